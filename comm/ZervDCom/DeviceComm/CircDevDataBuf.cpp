#include "DeviceComm/CircDevDataBuf.h"

#include "Common/Assertion.h"

DevDataBuf::~DevDataBuf() = default;

CircDevDataBuf::CircDevDataBuf(unsigned capacity) : buf_(std::make_unique<CircBuf>(capacity)) {}

CircDevDataBuf::~CircDevDataBuf() = default;

void CircDevDataBuf::clear() {
  CsLock lk(cs_);
  ZRQ_ASSERT(buf_ != nullptr);
  buf_->clear();
  count_.store(0);
}

void CircDevDataBuf::write(const uint8_t* data, unsigned len) {
  CsLock lk(cs_);
  ZRQ_ASSERT(buf_ != nullptr);
  ZRQ_ASSERT(data != nullptr || len == 0);
  if (!data) return;
  buf_->pushBlock(data, len);
  count_.store(buf_->count());
}

void CircDevDataBuf::read(uint8_t* dst, unsigned max, unsigned* got) {
  CsLock lk(cs_);
  ZRQ_ASSERT(buf_ != nullptr);
  unsigned n = dst ? buf_->popBlock(dst, max) : 0;
  count_.store(buf_->count());
  if (got) *got = n;
}

unsigned CircDevDataBuf::find(uint8_t value, unsigned start, int end) {
  CsLock lk(cs_);
  ZRQ_ASSERT(buf_ != nullptr);
  unsigned count = buf_->count();
  unsigned stop = end < 0 ? count : static_cast<unsigned>(end);
  ZRQ_ASSERT(stop <= count);
  if (stop > count) stop = count;
  return buf_->find(value, start, stop);
}

unsigned CircDevDataBuf::count() const { return count_.load(); }

unsigned CircDevDataBuf::capacity() const { return buf_->capacity(); }
