#pragma once

#include <cstdint>

// Line settings in the codes the serial port takes: parity 0 none, 1 odd,
// 2 even, 3 mark, 4 space; stop bits 0 one, 1 one and a half, 2 two;
// flow 0 none, 1 hardware, 2 software.
struct LineSettings {
  int32_t baudRate = 9600;
  int32_t byteSize = 8;
  int32_t parity = 0;
  int32_t stopBits = 0;
  int32_t flowControl = 0;
};
