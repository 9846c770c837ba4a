// Builds a persisted stream byte by byte from the documented layout, apart
// from the writer under test, and remembers where each item ends.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace meter_test {

struct StreamBytes {
  std::vector<uint8_t> b;
  std::vector<size_t> itemEnds;  // after each property item

  void u8(uint8_t v) { b.push_back(v); }
  void u16(uint16_t v) {
    u8(v & 0xFF);
    u8(v >> 8);
  }
  void u32(uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  }
  void f64(double d) {
    uint64_t x;
    std::memcpy(&x, &d, 8);
    u32(static_cast<uint32_t>(x));
    u32(static_cast<uint32_t>(x >> 32));
  }
  void text(const std::string& s) {
    if (s.size() < 255) {
      u8(static_cast<uint8_t>(s.size()));
    } else if (s.size() < 0xFFFE) {
      u8(0xFF);
      u16(static_cast<uint16_t>(s.size()));
    } else {
      u8(0xFF);
      u16(0xFFFF);
      u32(static_cast<uint32_t>(s.size()));
    }
    b.insert(b.end(), s.begin(), s.end());
  }
  // {0BE352xx-8F91-11CE-9DE3-00AA004BB851}
  void stdClassId(uint8_t first) {
    for (uint8_t v :
         {first, uint8_t(0x52), uint8_t(0xE3), uint8_t(0x0B), uint8_t(0x91), uint8_t(0x8F),
          uint8_t(0xCE), uint8_t(0x11), uint8_t(0x9D), uint8_t(0xE3), uint8_t(0x00), uint8_t(0xAA),
          uint8_t(0x00), uint8_t(0x4B), uint8_t(0xB8), uint8_t(0x51)})
      u8(v);
  }
  void font(const std::string& name, uint32_t tenThousandths, uint16_t weight, uint8_t style = 0,
            uint16_t charset = 0) {
    u8(0);
    stdClassId(0x03);
    u8(1);
    u16(charset);
    u8(style);
    u16(weight);
    u32(tenThousandths);
    u8(static_cast<uint8_t>(name.size()));
    b.insert(b.end(), name.begin(), name.end());
  }
  void picture(const std::vector<uint8_t>& data = {}) {
    u8(0);
    stdClassId(0x04);
    u16(0x746C);
    u32(static_cast<uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
  }
  void header(uint32_t cx, uint32_t cy, const std::string& caption) {
    u32(0x00010000);
    u32(cx);
    u32(cy);
    u32(2);
    text(caption);
  }
  void end() { itemEnds.push_back(b.size()); }
};

// The stored state of the forward (caption "Average Power", text radius 0.93)
// or reflected ("Power", 0.94) meter window.
inline StreamBytes meterWindowState(const std::string& caption, double textRadius) {
  StreamBytes s;
  s.header(6191, 4101, caption);
  s.f64(0), s.end();                     // ShadedAreaRelativeSize
  s.f64(1.2), s.end();                   // ScaledCircleRelativeDiameter
  s.f64(0.2), s.end();                   // ScaledCircleRelativeShifting
  s.f64(1.2), s.end();                   // VisibleScaleRelativeSize
  s.f64(0.06), s.end();                  // ScaleRelativeWidth
  s.u16(2), s.end();                     // ScaleThickLineWidth
  s.u16(1), s.end();                     // ScaleThinLineWidth
  s.u32(0), s.end();                     // ScaleColor
  s.u16(10), s.end();                    // NumberOfDivisions
  s.u16(2), s.end();                     // NumberOfSubdivisions
  s.f64(0), s.end();                     // MinimumValue
  s.f64(150), s.end();                   // MaximumValue
  s.f64(1), s.end();                     // StepValue
  s.f64(0), s.end();                     // Value
  s.u16(2), s.end();                     // IndexThickness
  s.u32(0x0000FF), s.end();              // IndexColor
  s.u32(0xFFFFFF), s.end();              // RedColor
  s.u32(0xFFFFFF), s.end();              // YellowColor
  s.u32(0xFFFFFF), s.end();              // GreenColor
  s.text("%.0f"), s.end();               // ValueFormatString
  s.f64(0.2), s.end();                   // BottomCoverRelativeHeight
  s.u32(0), s.end();                     // BottomCoverColor
  s.u32(0xFFFFFF), s.end();              // BottomCoverTextColor
  s.u32(0xFFFFFF), s.end();              // InstrumentBackGroundColor
  s.font("Arial", 67500, 700), s.end();  // SmallScaleFont
  s.font("Arial", 97500, 700), s.end();  // BottomCoverLabelFont
  s.f64(1.1), s.end();                   // RelativeIndexLength
  s.f64(textRadius), s.end();            // RelativeTextRadius
  s.f64(60), s.end();                    // GreenStartValue
  s.f64(75), s.end();                    // YellowStartValue
  s.f64(90), s.end();                    // RedStartValue
  s.picture(), s.end();                  // BackgroundImage
  return s;
}

}  // namespace meter_test
