#include "SerialPort/ParmrkDecoder.h"

#include <cstring>

size_t ParmrkDecoder::decode(const uint8_t* in, size_t n, uint8_t* out) {
  size_t o = 0;
  for (size_t i = 0; i < n; ++i) {
    if (state_ == 0) {
      // Plain bytes up to the next 0xFF move in one copy.
      const void* ff = std::memchr(in + i, 0xFF, n - i);
      const size_t run = (ff ? static_cast<const uint8_t*>(ff) : in + n) - (in + i);
      std::memmove(out + o, in + i, run);
      o += run;
      i += run;
      if (i == n) break;
    }
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
