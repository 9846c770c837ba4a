#include "SerialPort/ParmrkDecoder.h"

size_t ParmrkDecoder::decode(const uint8_t* in, size_t n, uint8_t* out) {
  size_t o = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = in[i];
    switch (state_) {
      case 0:
        if (b == 0xFF)
          state_ = 1;
        else
          out[o++] = b;
        break;
      case 1:
        if (b == 0xFF) {
          out[o++] = 0xFF;
          state_ = 0;
        } else if (b == 0x00) {
          state_ = 2;
        } else {
          // Not a mark the kernel makes; keep both bytes rather than lose data.
          out[o++] = 0xFF;
          out[o++] = b;
          state_ = 0;
        }
        break;
      default:
        // 0xFF 0x00 0x00 is a break (a NUL with a parity error looks the same).
        if (b == 0x00)
          ++events_.breaks;
        else
          ++events_.errorChars;
        state_ = 0;
        break;
    }
  }
  return o;
}

ParmrkDecoder::Events ParmrkDecoder::takeEvents() noexcept {
  Events e = events_;
  events_ = {};
  return e;
}
