// The device context that display items draw with: the small part of a GDI
// device context that forms use (pens, brushes, a font, text colour and
// background mode, Rectangle, Ellipse, lines, text and bitmap stretching).
//
// The selection state lives here and behaves as GDI's does: selecting a pen,
// brush or font returns the previous one, which the caller reselects to
// restore it, and whatever an item leaves selected is what the next item
// finds. How the operations turn into pixels is the business of the
// implementation (forms/PainterDC for the screen, a recorder in the tests).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/wintypes.h"

// Coordinates come from form files and may be anything: sums and differences
// of them saturate at the int32 range instead of overflowing.
constexpr int32_t Saturate(int64_t v) {
  return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}
constexpr int32_t AddCoord(int32_t a, int64_t b) { return Saturate(static_cast<int64_t>(a) + b); }
// A float truncated toward zero, held to the int32 range (NaN gives 0).
constexpr int32_t TruncCoord(float v) {
  return !(v == v) ? 0 : v >= 2147483520.0f ? INT32_MAX : v <= -2147483648.0f ? INT32_MIN : static_cast<int32_t>(v);
}

// A rectangle of client pixels as GDI keeps one: right and bottom are the
// first column and row outside it.
struct CRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;

  int32_t Width() const { return Saturate(static_cast<int64_t>(right) - left); }
  int32_t Height() const { return Saturate(static_cast<int64_t>(bottom) - top); }
  bool operator==(const CRect&) const = default;
};

struct CSize {
  int32_t cx = 0;
  int32_t cy = 0;
  bool operator==(const CSize&) const = default;
};

struct CPoint {
  int32_t x = 0;
  int32_t y = 0;
  bool operator==(const CPoint&) const = default;
};

// Hatch styles of a hatched brush, with GDI's numbers.
inline constexpr int32_t HS_HORIZONTAL = 0;
inline constexpr int32_t HS_VERTICAL = 1;
inline constexpr int32_t HS_FDIAGONAL = 2;  // upper left to lower right
inline constexpr int32_t HS_BDIAGONAL = 3;
inline constexpr int32_t HS_CROSS = 4;
inline constexpr int32_t HS_DIAGCROSS = 5;

// Background modes.
inline constexpr int32_t TRANSPARENT = 1;
inline constexpr int32_t OPAQUE = 2;

struct CFormPen {
  enum Style : uint8_t { kSolid, kNull };
  Style style = kSolid;
  int32_t width = 1;
  COLORREF color = 0x000000;

  static CFormPen Solid(int32_t width, COLORREF color) { return {kSolid, width, color}; }
  static CFormPen Black() { return {kSolid, 1, 0x000000}; }  // the stock black pen
  static CFormPen Null() { return {kNull, 0, 0}; }
  bool operator==(const CFormPen&) const = default;
};

struct CFormBrush {
  enum Style : uint8_t { kSolid, kNull, kHatched };
  Style style = kSolid;
  COLORREF color = 0xFFFFFF;
  int32_t hatch = HS_FDIAGONAL;

  static CFormBrush Solid(COLORREF color) { return {kSolid, color, 0}; }
  static CFormBrush Null() { return {kNull, 0, 0}; }
  static CFormBrush Hatched(int32_t hatch, COLORREF color) { return {kHatched, color, hatch}; }
  bool operator==(const CFormBrush&) const = default;
};

// A font object made from a LOGFONT record.
class CFormFont {
 public:
  explicit CFormFont(const LOGFONT& font) : m_logFont(font) {}
  const LOGFONT& LogFont() const { return m_logFont; }

 private:
  LOGFONT m_logFont;
};

// A bitmap loaded from a file; what it holds belongs to the loader.
class CFormBitmap {
 public:
  virtual ~CFormBitmap() = default;
  virtual CSize Size() const = 0;
};

// Loads a bitmap file in its own size; null when it does not load. The user
// interface installs the loader; without one no bitmap ever loads.
using FormBitmapLoader = std::function<std::unique_ptr<CFormBitmap>(const std::string& path)>;
void SetFormBitmapLoader(FormBitmapLoader loader);
std::unique_ptr<CFormBitmap> LoadFormBitmap(const std::string& path);

class CFormDC {
 public:
  virtual ~CFormDC() = default;

  // --- selection state (a fresh context: black pen, white brush, system
  // font, black text on a white opaque background) ----------------------------
  CFormPen SelectPen(const CFormPen& pen) {
    CFormPen old = m_pen;
    m_pen = pen;
    return old;
  }
  CFormBrush SelectBrush(const CFormBrush& brush) {
    CFormBrush old = m_brush;
    m_brush = brush;
    return old;
  }
  // Null selects the system font.
  const CFormFont* SelectFont(const CFormFont* font) {
    const CFormFont* old = m_pFont;
    m_pFont = font;
    return old;
  }
  COLORREF SetTextColor(COLORREF color) {
    COLORREF old = m_crText;
    m_crText = color;
    return old;
  }
  COLORREF SetBkColor(COLORREF color) {
    COLORREF old = m_crBk;
    m_crBk = color;
    return old;
  }
  int32_t SetBkMode(int32_t mode) {
    int32_t old = m_nBkMode;
    m_nBkMode = mode;
    return old;
  }
  const CFormPen& Pen() const { return m_pen; }
  const CFormBrush& Brush() const { return m_brush; }
  const CFormFont* Font() const { return m_pFont; }
  COLORREF TextColor() const { return m_crText; }
  COLORREF BkColor() const { return m_crBk; }
  int32_t BkMode() const { return m_nBkMode; }

  // --- drawing ------------------------------------------------------------------
  void MoveTo(int32_t x, int32_t y) { m_ptCurrent = {x, y}; }
  void LineTo(int32_t x, int32_t y) {
    DrawLine(m_ptCurrent, {x, y});
    m_ptCurrent = {x, y};
  }
  // Outlined with the pen, filled with the brush. The pen runs along the
  // inside of (left, top) to (right - 1, bottom - 1); with the null pen the
  // fill leaves out the last column and row, as GDI's does.
  virtual void Rectangle(int32_t left, int32_t top, int32_t right, int32_t bottom) = 0;
  void Rectangle(const CRect& r) { Rectangle(r.left, r.top, r.right, r.bottom); }
  virtual void Ellipse(int32_t left, int32_t top, int32_t right, int32_t bottom) = 0;
  void Ellipse(const CRect& r) { Ellipse(r.left, r.top, r.right, r.bottom); }
  // The text's top-left at (x, y); in opaque mode its extent is first filled
  // with the background colour.
  virtual void TextOut(int32_t x, int32_t y, const std::string& text) = 0;
  // Width and height of the text in the selected font.
  virtual CSize GetTextExtent(const std::string& text) = 0;
  // The whole bitmap stretched onto `destination`, copied as it is.
  virtual void StretchBlt(const CRect& destination, const CFormBitmap& bitmap) = 0;

 protected:
  virtual void DrawLine(CPoint from, CPoint to) = 0;

 private:
  CFormPen m_pen = CFormPen::Black();
  CFormBrush m_brush = CFormBrush::Solid(0xFFFFFF);
  const CFormFont* m_pFont = nullptr;
  COLORREF m_crText = 0x000000;
  COLORREF m_crBk = 0xFFFFFF;
  int32_t m_nBkMode = OPAQUE;
  CPoint m_ptCurrent;
};
