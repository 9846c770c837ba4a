#pragma once
// Undoes the kernel's PARMRK marking: 0xFF 0xFF is a data 0xFF, 0xFF 0x00 0x00
// a break, 0xFF 0x00 x a character received with a parity or framing error
// (dropped). Keeps state across chunks so a mark may be split.

#include <cstddef>
#include <cstdint>

class ParmrkDecoder {
 public:
  // Decodes n bytes of in into out and returns the count: at most n + 1, as a
  // 0xFF held back from the previous chunk may come out with this one.
  size_t decode(const uint8_t* in, size_t n, uint8_t* out);
  void reset() noexcept { state_ = 0; }

  // Events seen since the last take (then cleared).
  struct Events {
    unsigned breaks = 0;
    unsigned errorChars = 0;
  };
  Events takeEvents() noexcept;
  bool hasEvents() const noexcept { return events_.breaks || events_.errorChars; }

 private:
  int state_ = 0;  // 0 plain, 1 after 0xFF, 2 after 0xFF 0x00
  Events events_;
};
