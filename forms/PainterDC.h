// The forms' device context on a QPainter, with GDI's pixel rules where a
// form's look depends on them, and the Qt side of fonts and bitmaps.
//
//   Rectangle  a solid pen of width w is centred on the frame through the
//              pixels left..right-1 and top..bottom-1, so a 1-pixel pen
//              covers the last column and row inside the rectangle; the
//              brush fills that frame. With the null pen only the brush is
//              drawn and it leaves out the last column and row.
//   Ellipse    inscribed in the same frame, not antialiased.
//   Brushes    solid, null, and hatched (8-pixel hatches whose gaps show the
//              background colour in opaque mode, and what lies beneath in
//              transparent mode).
//   TextOut    the text's top-left cell corner at (x, y); in opaque mode the
//              text's extent is filled with the background colour first.
//   LineTo     from the current position, with flat caps.
//   StretchBlt the whole bitmap onto the rectangle, no smoothing.
#pragma once

#include <QFont>
#include <QImage>

#include "forms/FormDC.h"
#include "platform/wintypes.h"

class QPainter;

// LOGFONT to QFont: a negative height is the character height in pixels, a
// positive one the cell height, 0 the default size; weight, italic,
// underline and strike-out carry over. "Courier" (and other faces that ask
// for a fixed pitch) resolve to a monospace font the system has. A null
// font is the system font: the application's default.
QFont FontFromLogFont(const LOGFONT& font);
QFont SystemFormFont();

inline QColor ColorFromRef(COLORREF c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
inline COLORREF RefFromColor(const QColor& c) {
  return static_cast<COLORREF>(c.red() | (c.green() << 8) | (c.blue() << 16));
}

// A bitmap file read through QImage.
class CQtFormBitmap : public CFormBitmap {
 public:
  explicit CQtFormBitmap(QImage image) : m_image(std::move(image)) {}
  CSize Size() const override { return {m_image.width(), m_image.height()}; }
  const QImage& Image() const { return m_image; }

 private:
  QImage m_image;
};

// Makes bitmap items load their files through QImage.
void InstallQtFormBitmapLoader();

class CPainterDC : public CFormDC {
 public:
  explicit CPainterDC(QPainter& painter);

  void Rectangle(int32_t left, int32_t top, int32_t right, int32_t bottom) override;
  void Ellipse(int32_t left, int32_t top, int32_t right, int32_t bottom) override;
  void TextOut(int32_t x, int32_t y, const std::string& text) override;
  CSize GetTextExtent(const std::string& text) override;
  void StretchBlt(const CRect& destination, const CFormBitmap& bitmap) override;

 protected:
  void DrawLine(CPoint from, CPoint to) override;

 private:
  void FillWithBrush(const QRect& area);
  QFont CurrentFont() const;

  QPainter& m_painter;
};
