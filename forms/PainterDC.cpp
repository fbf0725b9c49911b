#include "forms/PainterDC.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cstring>

namespace {

// The monospace faces Debian ships, best match for Courier first.
QString MonospaceFamily() {
  static const QString family = [] {
    const QStringList families = QFontDatabase::families();
    for (const char* candidate : {"Liberation Mono", "DejaVu Sans Mono", "Noto Mono", "FreeMono"})
      if (families.contains(QLatin1String(candidate))) return QString::fromLatin1(candidate);
    return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
  }();
  return family;
}

bool AsksForMonospace(const LOGFONT& font, const QString& face) {
  if (face.compare(QLatin1String("Courier"), Qt::CaseInsensitive) == 0 ||
      face.compare(QLatin1String("Courier New"), Qt::CaseInsensitive) == 0)
    return true;
  // FIXED_PITCH in the low bits, or FF_MODERN, with no face of its own.
  return face.isEmpty() && ((font.lfPitchAndFamily & 0x03) == 1 || (font.lfPitchAndFamily & 0xF0) == 0x30);
}

Qt::BrushStyle HatchStyle(int32_t hatch) {
  switch (hatch) {
    case HS_HORIZONTAL: return Qt::HorPattern;
    case HS_VERTICAL: return Qt::VerPattern;
    case HS_FDIAGONAL: return Qt::FDiagPattern;
    case HS_BDIAGONAL: return Qt::BDiagPattern;
    case HS_CROSS: return Qt::CrossPattern;
    default: return Qt::DiagCrossPattern;
  }
}

// Coordinates and pen widths come from form files. Far beyond any screen they
// are held to a range in which the arithmetic below and Qt's own cannot
// overflow; what is drawn on the screen stays the same.
constexpr int32_t kFar = 1 << 20;
int32_t Far(int32_t v) { return std::clamp(v, -kFar, kFar); }
int PenWidth(int32_t w) { return std::clamp(w, 1, 4096); }

}  // namespace

QFont SystemFormFont() { return QApplication::font(); }

QFont FontFromLogFont(const LOGFONT& logFont) {
  char face[sizeof logFont.lfFaceName + 1] = {};
  std::memcpy(face, logFont.lfFaceName, sizeof logFont.lfFaceName);
  const QString name = QString::fromLatin1(face);
  QFont font = SystemFormFont();
  if (AsksForMonospace(logFont, name)) {
    font.setFamily(MonospaceFamily());
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
  } else if (!name.isEmpty()) {
    font.setFamily(name);
  }
  if (logFont.lfHeight < 0) {
    font.setPixelSize(std::clamp(-logFont.lfHeight, 1, 2000));
  } else if (logFont.lfHeight > 0) {
    // A cell height: the character height is what is left without the
    // internal leading, which for the usual faces is about a fifth.
    font.setPixelSize(std::clamp(logFont.lfHeight * 4 / 5, 1, 2000));
  }
  if (logFont.lfWeight > 0) font.setWeight(static_cast<QFont::Weight>(std::clamp<int>(logFont.lfWeight, 100, 900)));
  font.setItalic(logFont.lfItalic != 0);
  font.setUnderline(logFont.lfUnderline != 0);
  font.setStrikeOut(logFont.lfStrikeOut != 0);
  return font;
}

void InstallQtFormBitmapLoader() {
  SetFormBitmapLoader([](const std::string& path) -> std::unique_ptr<CFormBitmap> {
    QImage image;
    if (!image.load(QString::fromStdString(path)) || image.isNull()) return nullptr;
    return std::make_unique<CQtFormBitmap>(image.convertToFormat(QImage::Format_RGB32));
  });
}

CPainterDC::CPainterDC(QPainter& painter) : m_painter(painter) {
  m_painter.setRenderHint(QPainter::Antialiasing, false);
  m_painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
}

QFont CPainterDC::CurrentFont() const {
  return Font() != nullptr ? FontFromLogFont(Font()->LogFont()) : SystemFormFont();
}

void CPainterDC::FillWithBrush(const QRect& area) {
  if (area.isEmpty()) return;
  const CFormBrush& brush = Brush();
  switch (brush.style) {
    case CFormBrush::kNull: return;
    case CFormBrush::kSolid: m_painter.fillRect(area, ColorFromRef(brush.color)); return;
    case CFormBrush::kHatched:
      if (BkMode() == OPAQUE) m_painter.fillRect(area, ColorFromRef(BkColor()));
      m_painter.save();
      // Hatches are laid on the device's grid, so that neighbouring areas
      // line up as GDI's do.
      m_painter.setBrushOrigin(0, 0);
      m_painter.fillRect(area, QBrush(ColorFromRef(brush.color), HatchStyle(brush.hatch)));
      m_painter.restore();
      return;
  }
}

void CPainterDC::Rectangle(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  left = Far(left), top = Far(top), right = Far(right), bottom = Far(bottom);
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
  const CFormPen& pen = Pen();
  if (pen.style == CFormPen::kNull) {
    FillWithBrush(QRect(QPoint(left, top), QPoint(right - 2, bottom - 2)));
    return;
  }
  const int w = PenWidth(pen.width);
  // The frame through the outer pixels, and how far the pen reaches to each side.
  const QRect frame(QPoint(left, top), QPoint(right - 1, bottom - 1));
  if (frame.isEmpty()) return;
  FillWithBrush(frame);
  const int out = (w - 1) / 2;
  const int in = w / 2;
  const QColor color = ColorFromRef(pen.color);
  const QRect outer = frame.adjusted(-out, -out, out, out);
  const int band = out + in + 1;
  m_painter.fillRect(QRect(outer.left(), outer.top(), outer.width(), band), color);
  m_painter.fillRect(QRect(outer.left(), outer.bottom() - band + 1, outer.width(), band), color);
  m_painter.fillRect(QRect(outer.left(), outer.top(), band, outer.height()), color);
  m_painter.fillRect(QRect(outer.right() - band + 1, outer.top(), band, outer.height()), color);
}

void CPainterDC::Ellipse(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  left = Far(left), top = Far(top), right = Far(right), bottom = Far(bottom);
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
  const CFormPen& pen = Pen();
  const CFormBrush& brush = Brush();
  m_painter.save();
  if (pen.style == CFormPen::kNull) {
    m_painter.setPen(Qt::NoPen);
  } else {
    QPen qpen(ColorFromRef(pen.color));
    qpen.setWidth(PenWidth(pen.width));
    qpen.setJoinStyle(Qt::MiterJoin);
    m_painter.setPen(qpen);
  }
  switch (brush.style) {
    case CFormBrush::kNull: m_painter.setBrush(Qt::NoBrush); break;
    case CFormBrush::kSolid: m_painter.setBrush(ColorFromRef(brush.color)); break;
    case CFormBrush::kHatched: m_painter.setBrush(QBrush(ColorFromRef(brush.color), HatchStyle(brush.hatch))); break;
  }
  m_painter.drawEllipse(QRect(QPoint(left, top), QPoint(right - 2, bottom - 2)));
  m_painter.restore();
}

void CPainterDC::TextOut(int32_t x, int32_t y, const std::string& text) {
  x = Far(x), y = Far(y);
  const QString qtext = QString::fromStdString(text);
  const QFont font = CurrentFont();
  const QFontMetrics metrics(font);
  if (BkMode() == OPAQUE)
    m_painter.fillRect(QRect(x, y, metrics.horizontalAdvance(qtext), metrics.height()), ColorFromRef(BkColor()));
  m_painter.save();
  m_painter.setFont(font);
  m_painter.setPen(ColorFromRef(TextColor()));
  m_painter.drawText(QPoint(x, y + metrics.ascent()), qtext);
  m_painter.restore();
}

CSize CPainterDC::GetTextExtent(const std::string& text) {
  const QFontMetrics metrics(CurrentFont());
  return {metrics.horizontalAdvance(QString::fromStdString(text)), metrics.height()};
}

void CPainterDC::StretchBlt(const CRect& destination, const CFormBitmap& bitmap) {
  const auto* qt = dynamic_cast<const CQtFormBitmap*>(&bitmap);
  if (qt == nullptr || destination.Width() == 0 || destination.Height() == 0) return;
  const CRect near{Far(destination.left), Far(destination.top), Far(destination.right), Far(destination.bottom)};
  m_painter.drawImage(QRect(near.left, near.top, near.Width(), near.Height()), qt->Image());
}

void CPainterDC::DrawLine(CPoint from, CPoint to) {
  const CFormPen& pen = Pen();
  if (pen.style == CFormPen::kNull || from == to) return;
  m_painter.save();
  QPen qpen(ColorFromRef(pen.color));
  qpen.setWidth(PenWidth(pen.width));
  qpen.setCapStyle(Qt::FlatCap);
  m_painter.setPen(qpen);
  // A polyline's segments share their ends, so drawing each end point (where
  // GDI leaves it out) changes nothing but the last pixel of a line.
  m_painter.drawLine(QPoint(Far(from.x), Far(from.y)), QPoint(Far(to.x), Far(to.y)));
  m_painter.restore();
}
