#pragma once
// Fixed-capacity byte ring. Position 0 is the oldest byte; a full buffer
// drops its oldest byte for each new one, so it keeps the newest bytes.

#include <cstdint>
#include <memory>

class CircBuf {
 public:
  explicit CircBuf(unsigned capacity);
  virtual ~CircBuf();
  CircBuf(const CircBuf&) = delete;
  CircBuf& operator=(const CircBuf&) = delete;

  virtual void push(uint8_t byte);
  // Index at or beyond the capacity raises IndexOutOfBoundsExc; positions
  // between count and capacity hold stale bytes.
  virtual uint8_t at(unsigned index) const;
  // Oldest byte; on an empty buffer, the byte at position 0 and no change.
  virtual uint8_t popFront();
  virtual void clear();

  unsigned count() const noexcept { return count_; }
  unsigned capacity() const noexcept { return capacity_; }
  // Bulk forms of push / popFront with the same observable result.
  void pushBlock(const uint8_t* data, unsigned len);
  unsigned popBlock(uint8_t* dst, unsigned max);
  // First position in [start, end) (end clipped to the count) holding value,
  // or 0xFFFFFFFF.
  unsigned find(uint8_t value, unsigned start, unsigned end) const;

 private:
  unsigned physical(unsigned index) const noexcept;

  std::unique_ptr<uint8_t[]> data_;
  unsigned count_ = 0;
  unsigned capacity_;
  unsigned head_ = 0;  // physical slot of position 0
};
