#include "DeviceComm/CircBuf.h"

#include <algorithm>
#include <cstring>

#include "Common/Assertion.h"
#include "Common/Exc.h"

CircBuf::CircBuf(unsigned capacity)
    : data_(new uint8_t[capacity ? capacity : 1]), capacity_(capacity) {
  ZRQ_ASSERT(data_ != nullptr);
  clear();
}

CircBuf::~CircBuf() = default;

unsigned CircBuf::physical(unsigned index) const noexcept {
  unsigned p = head_ + index;
  return p >= capacity_ ? p - capacity_ : p;
}

void CircBuf::push(uint8_t byte) {
  ZRQ_ASSERT(data_ != nullptr);
  if (capacity_ == 0) return;
  if (count_ < capacity_) {
    data_[physical(count_)] = byte;
    ++count_;
  } else {
    // Full: the oldest byte's slot becomes the newest.
    data_[head_] = byte;
    head_ = physical(1);
  }
}

uint8_t CircBuf::at(unsigned index) const {
  if (index >= capacity_) throw IndexOutOfBoundsExc(index, capacity_, ZRQ_HERE);
  return data_[physical(index)];
}

uint8_t CircBuf::popFront() {
  if (capacity_ == 0) return 0;
  uint8_t b = data_[head_];
  if (count_ > 0) {
    head_ = physical(1);
    --count_;
  }
  return b;
}

void CircBuf::clear() {
  std::memset(data_.get(), 0, capacity_ ? capacity_ : 1);
  count_ = 0;
  head_ = 0;
}

void CircBuf::pushBlock(const uint8_t* data, unsigned len) {
  if (capacity_ == 0 || len == 0) return;
  // Only the newest capacity bytes can survive.
  if (len > capacity_) {
    data += len - capacity_;
    len = capacity_;
  }
  unsigned freeSlots = capacity_ - count_;
  if (len > freeSlots) {  // drop the oldest to make room
    unsigned drop = len - freeSlots;
    head_ = physical(drop);
    count_ -= drop;
  }
  unsigned tail = physical(count_);
  unsigned first = std::min(len, capacity_ - tail);
  std::memcpy(&data_[tail], data, first);
  std::memcpy(&data_[0], data + first, len - first);
  count_ += len;
}

unsigned CircBuf::popBlock(uint8_t* dst, unsigned max) {
  unsigned n = std::min(max, count_);
  if (n == 0) return 0;
  unsigned first = std::min(n, capacity_ - head_);
  std::memcpy(dst, &data_[head_], first);
  std::memcpy(dst + first, &data_[0], n - first);
  head_ = physical(n);
  count_ -= n;
  return n;
}

unsigned CircBuf::find(uint8_t value, unsigned start, unsigned end) const {
  end = std::min(end, count_);
  while (start < end) {
    // One contiguous stretch of the ring at a time.
    const unsigned p = physical(start);
    const unsigned run = std::min(end - start, capacity_ - p);
    if (const void* hit = std::memchr(&data_[p], value, run))
      return start + static_cast<unsigned>(static_cast<const uint8_t*>(hit) - &data_[p]);
    start += run;
  }
  return 0xFFFFFFFFu;
}
