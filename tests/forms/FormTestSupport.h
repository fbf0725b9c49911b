// What the form tests share: a device context that records every operation
// with the state it was drawn in and measures text with fixed metrics, and a
// byte builder that spells records out independently of the archive.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "forms/FormDC.h"
#include "platform/wintypes.h"

namespace form_test {

// Each character is 7 pixels wide, each text 13 high.
inline constexpr int kCharWidth = 7;
inline constexpr int kTextHeight = 13;

struct DrawOp {
  enum Kind { kRectangle, kEllipse, kText, kLine, kBitmap } kind;
  CRect rect;        // shape, text position (left, top) or line ends
  std::string text;  // TextOut
  CFormPen pen;
  CFormBrush brush;
  COLORREF textColor = 0;
  COLORREF bkColor = 0;
  int32_t bkMode = 0;
  const CFormFont* font = nullptr;
};

class RecordingDC : public CFormDC {
 public:
  void Rectangle(int32_t l, int32_t t, int32_t r, int32_t b) override { Record(DrawOp::kRectangle, {l, t, r, b}); }
  void Ellipse(int32_t l, int32_t t, int32_t r, int32_t b) override { Record(DrawOp::kEllipse, {l, t, r, b}); }
  void TextOut(int32_t x, int32_t y, const std::string& text) override {
    Record(DrawOp::kText, {x, y, x, y}, text);
  }
  CSize GetTextExtent(const std::string& text) override {
    return {static_cast<int32_t>(text.size()) * kCharWidth, kTextHeight};
  }
  void StretchBlt(const CRect& destination, const CFormBitmap&) override { Record(DrawOp::kBitmap, destination); }

  std::vector<DrawOp> ops;

 protected:
  void DrawLine(CPoint from, CPoint to) override { Record(DrawOp::kLine, {from.x, from.y, to.x, to.y}); }

 private:
  void Record(DrawOp::Kind kind, CRect rect, std::string text = {}) {
    ops.push_back({kind, rect, std::move(text), Pen(), Brush(), TextColor(), BkColor(), BkMode(), Font()});
  }
};

// Little-endian bytes, spelled out by hand.
class Bytes {
 public:
  Bytes& I32(int32_t v) {
    for (int i = 0; i < 4; ++i) m_bytes.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
    return *this;
  }
  Bytes& U16(uint16_t v) {
    m_bytes.push_back(static_cast<uint8_t>(v));
    m_bytes.push_back(static_cast<uint8_t>(v >> 8));
    return *this;
  }
  Bytes& F32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return I32(static_cast<int32_t>(bits));
  }
  // Short strings only: a one-byte length.
  Bytes& Str(const std::string& s) {
    m_bytes.push_back(static_cast<uint8_t>(s.size()));
    m_bytes.insert(m_bytes.end(), s.begin(), s.end());
    return *this;
  }
  Bytes& Font(const LOGFONT& f) {
    const auto* p = reinterpret_cast<const uint8_t*>(&f);
    m_bytes.insert(m_bytes.end(), p, p + sizeof f);
    return *this;
  }
  Bytes& Rect(int32_t l, int32_t t, int32_t r, int32_t b) { return I32(l).I32(t).I32(r).I32(b); }
  Bytes& Append(const std::vector<uint8_t>& more) {
    m_bytes.insert(m_bytes.end(), more.begin(), more.end());
    return *this;
  }
  const std::vector<uint8_t>& get() const { return m_bytes; }

 private:
  std::vector<uint8_t> m_bytes;
};

}  // namespace form_test
