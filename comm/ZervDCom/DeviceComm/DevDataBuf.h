#pragma once

#include <cstdint>

class DevDataBuf {
 public:
  virtual void clear() = 0;
  virtual void write(const uint8_t* data, unsigned len) = 0;
  virtual void read(uint8_t* dst, unsigned max, unsigned* got) = 0;
  // First position in [start, end) holding value, 0xFFFFFFFF when none;
  // a negative end means the current count.
  virtual unsigned find(uint8_t value, unsigned start, int end) = 0;
  virtual unsigned count() const = 0;
  virtual ~DevDataBuf();
};

constexpr unsigned kNotFound = 0xFFFFFFFFu;
