#include "MeterStream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace zrq::meter {

// {0BE35203-8F91-11CE-9DE3-00AA004BB851} and {0BE35204-...}: the first three
// fields little-endian, the last eight bytes as they are.
const uint8_t kFontClassId[16] = {0x03, 0x52, 0xE3, 0x0B, 0x91, 0x8F, 0xCE, 0x11,
                                  0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51};
const uint8_t kPictureClassId[16] = {0x04, 0x52, 0xE3, 0x0B, 0x91, 0x8F, 0xCE, 0x11,
                                     0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51};

namespace {

constexpr uint8_t kFontVersion = 1;
constexpr uint8_t kItalic = 0x02, kUnderline = 0x04, kStrikeout = 0x08;

const std::vector<int> kOrder = {kShadedAreaRelativeSize,
                                 kScaledCircleRelativeDiameter,
                                 kScaledCircleRelativeShifting,
                                 kVisibleScaleRelativeSize,
                                 kScaleRelativeWidth,
                                 kScaleThickLineWidth,
                                 kScaleThinLineWidth,
                                 kScaleColor,
                                 kNumberOfDivisions,
                                 kNumberOfSubdivisions,
                                 kMinimumValue,
                                 kMaximumValue,
                                 kStepValue,
                                 kValue,
                                 kIndexThickness,
                                 kIndexColor,
                                 kRedColor,
                                 kYellowColor,
                                 kGreenColor,
                                 kValueFormatString,
                                 kBottomCoverRelativeHeight,
                                 kBottomCoverColor,
                                 kBottomCoverTextColor,
                                 kInstrumentBackGroundColor,
                                 kSmallScaleFont,
                                 kBottomCoverLabelFont,
                                 kRelativeIndexLength,
                                 kRelativeTextRadius,
                                 kGreenStartValue,
                                 kYellowStartValue,
                                 kRedStartValue,
                                 kBackgroundImage};

class Writer {
 public:
  void u8(uint8_t v) { out.push_back(v); }
  void u16(uint16_t v) { le(v, 2); }
  void u32(uint32_t v) { le(v, 4); }
  void f64(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    le(bits, 8);
  }
  void bytes(const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }
  void str(const std::string& s) {
    const size_t n = s.size();
    if (n < 0xFF) {
      u8(static_cast<uint8_t>(n));
    } else if (n < 0xFFFE) {
      u8(0xFF);
      u16(static_cast<uint16_t>(n));
    } else {
      u8(0xFF);
      u16(0xFFFF);
      u32(static_cast<uint32_t>(n));
    }
    bytes(reinterpret_cast<const uint8_t*>(s.data()), n);
  }
  std::vector<uint8_t> out;

 private:
  void le(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
};

class Reader {
 public:
  explicit Reader(std::span<const uint8_t> b) : b_(b) {}
  bool atEnd() const { return pos_ == b_.size(); }
  size_t pos() const { return pos_; }

  uint8_t u8(const char* what) { return static_cast<uint8_t>(le(1, what)); }
  uint16_t u16(const char* what) { return static_cast<uint16_t>(le(2, what)); }
  uint32_t u32(const char* what) { return static_cast<uint32_t>(le(4, what)); }
  double f64(const char* what) {
    const uint64_t bits = le(8, what);
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
  }
  void bytes(uint8_t* p, size_t n, const char* what) {
    need(n, what);
    if (n == 0) return;  // an empty picture has no buffer to copy into
    std::memcpy(p, b_.data() + pos_, n);
    pos_ += n;
  }
  std::string str(const char* what) {
    size_t n = u8(what);
    bool wide = false;
    if (n == 0xFF) {
      n = u16(what);
      if (n == 0xFFFE) {
        wide = true;
        n = u8(what);
        if (n == 0xFF) {
          n = u16(what);
          if (n == 0xFFFF) n = u32(what);
        }
      } else if (n == 0xFFFF) {
        n = u32(what);
      }
    }
    if (!wide) {
      need(n, what);
      std::string s(reinterpret_cast<const char*>(b_.data() + pos_), n);
      pos_ += n;
      return s;
    }
    if (n > (b_.size() - pos_) / 2) cut(what);
    std::string s;
    for (size_t i = 0; i < n; ++i) appendUtf8(s, u16(what));
    return s;
  }

  void need(size_t n, const char* what) const {
    if (n > b_.size() - pos_) cut(what);
  }
  [[noreturn]] void cut(const char* what) const {
    throw StreamError(std::string("stream cut short in ") + what + " at byte " +
                      std::to_string(pos_));
  }

 private:
  uint64_t le(int n, const char* what) {
    need(static_cast<size_t>(n), what);
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v |= uint64_t(b_[pos_ + i]) << (8 * i);
    pos_ += static_cast<size_t>(n);
    return v;
  }
  // Surrogates are kept one by one as their own code points would not be valid UTF-8: use U+FFFD.
  static void appendUtf8(std::string& s, uint16_t c) {
    uint32_t cp = (c >= 0xD800 && c <= 0xDFFF) ? 0xFFFD : c;
    if (cp < 0x80) {
      s += static_cast<char>(cp);
    } else if (cp < 0x800) {
      s += static_cast<char>(0xC0 | (cp >> 6));
      s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      s += static_cast<char>(0xE0 | (cp >> 12));
      s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      s += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  std::span<const uint8_t> b_;
  size_t pos_ = 0;
};

void writeFont(Writer& w, const FontDesc& f) {
  w.u8(0);
  w.bytes(kFontClassId, 16);
  w.u8(kFontVersion);
  w.u16(static_cast<uint16_t>(f.charset));
  w.u8(static_cast<uint8_t>((f.italic ? kItalic : 0) | (f.underline ? kUnderline : 0) |
                            (f.strikeout ? kStrikeout : 0)));
  w.u16(static_cast<uint16_t>(f.weight));
  w.u32(f.size);
  // The name's length is one byte; longer names cannot be written (the text form refuses them).
  const size_t n = std::min<size_t>(f.name.size(), 255);
  w.u8(static_cast<uint8_t>(n));
  w.bytes(reinterpret_cast<const uint8_t*>(f.name.data()), n);
}

void expectClassId(Reader& r, const uint8_t* id, const char* what) {
  if (r.u8(what) != 0) throw StreamError(std::string(what) + ": object marker is not 0");
  uint8_t got[16];
  r.bytes(got, 16, what);
  if (std::memcmp(got, id, 16) != 0)
    throw StreamError(std::string(what) + ": wrong class identifier");
}

FontDesc readFont(Reader& r, const char* what) {
  expectClassId(r, kFontClassId, what);
  FontDesc f;
  if (r.u8(what) != kFontVersion)
    throw StreamError(std::string(what) + ": unknown font stream version");
  f.charset = static_cast<int16_t>(r.u16(what));
  const uint8_t style = r.u8(what);
  f.italic = style & kItalic;
  f.underline = style & kUnderline;
  f.strikeout = style & kStrikeout;
  f.weight = static_cast<int16_t>(r.u16(what));
  f.size = r.u32(what);
  const size_t n = r.u8(what);
  f.name.resize(n);
  r.bytes(reinterpret_cast<uint8_t*>(f.name.data()), n, what);
  return f;
}

void writePicture(Writer& w, const Picture& p) {
  w.u8(0);
  w.bytes(kPictureClassId, 16);
  w.u16(kPictureTag);
  w.u32(static_cast<uint32_t>(p.data.size()));
  w.bytes(p.data.data(), p.data.size());
}

Picture readPicture(Reader& r, const char* what) {
  expectClassId(r, kPictureClassId, what);
  if (r.u16(what) != kPictureTag) throw StreamError(std::string(what) + ": wrong picture tag");
  const uint32_t n = r.u32(what);
  Picture p;
  // bytes() checks the remaining length first, so a forged size allocates nothing.
  r.need(n, what);
  p.data.resize(n);
  r.bytes(p.data.data(), n, what);
  return p;
}

}  // namespace

const std::vector<int>& persistenceOrder() { return kOrder; }

std::vector<uint8_t> saveStream(const MeterModel& m) {
  return saveStream(m, m.extentX(), m.extentY());
}

std::vector<uint8_t> saveStream(const MeterModel& m, int32_t extentX, int32_t extentY) {
  const MeterProps& p = m.props();
  Writer w;
  w.u32(kPersistVersion);
  w.u32(static_cast<uint32_t>(extentX));
  w.u32(static_cast<uint32_t>(extentY));
  w.u32(kStockCaptionBit);
  w.str(p.Caption);
  for (int id : kOrder) {
    const PropInfo& info = *findProperty(id);
    const PropValue v = info.get(p);
    switch (info.type) {
      case PropType::Double:
        w.f64(std::get<double>(v));
        break;
      case PropType::Short:
        w.u16(static_cast<uint16_t>(std::get<int16_t>(v)));
        break;
      case PropType::Color:
        w.u32(std::get<OleColor>(v).value);
        break;
      case PropType::String:
        w.str(std::get<std::string>(v));
        break;
      case PropType::Font:
        writeFont(w, std::get<FontDesc>(v));
        break;
      case PropType::Picture:
        writePicture(w, std::get<Picture>(v));
        break;
    }
  }
  return std::move(w.out);
}

StreamState parseStream(std::span<const uint8_t> bytes) {
  Reader r(bytes);
  StreamState s;
  const uint32_t version = r.u32("version");
  if (version != kPersistVersion)
    throw StreamError("unknown stream version 0x" + [&] {
      char buf[16];
      std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(version));
      return std::string(buf);
    }());
  s.extentX = static_cast<int32_t>(r.u32("extent"));
  s.extentY = static_cast<int32_t>(r.u32("extent"));
  if (s.extentX < 0 || s.extentY < 0) throw StreamError("negative extent");
  const uint32_t mask = r.u32("stock property mask");
  if (mask & ~kStockCaptionBit) throw StreamError("stock properties other than the caption");
  if (mask & kStockCaptionBit) s.props.Caption = r.str("Caption");
  for (int id : kOrder) {
    if (r.atEnd()) break;
    const PropInfo& info = *findProperty(id);
    PropValue v;
    switch (info.type) {
      case PropType::Double:
        v = r.f64(info.name);
        break;
      case PropType::Short:
        v = static_cast<int16_t>(r.u16(info.name));
        break;
      case PropType::Color:
        v = OleColor{r.u32(info.name)};
        break;
      case PropType::String:
        v = r.str(info.name);
        break;
      case PropType::Font:
        v = readFont(r, info.name);
        break;
      case PropType::Picture:
        v = readPicture(r, info.name);
        break;
    }
    info.set(s.props, v);
  }
  if (!r.atEnd())
    throw StreamError("unexpected bytes after the last property at byte " +
                      std::to_string(r.pos()));
  return s;
}

void loadStream(MeterModel& m, std::span<const uint8_t> bytes) {
  StreamState s = parseStream(bytes);
  m.setExtent(s.extentX, s.extentY);
  m.replaceAll(s.props);
}

}  // namespace zrq::meter
