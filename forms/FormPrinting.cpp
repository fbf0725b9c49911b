#include "forms/FormPrinting.h"

#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QRect>

#include <algorithm>

#include "forms/PainterDC.h"
#include "forms/PlexmarDoc.h"

QRect FormPrintArea(const CPlexmarDoc& doc, QSize client) {
  QRect area(0, 0, std::max(client.width(), 1), std::max(client.height(), 1));
  for (const auto& item : doc.m_items) {
    const CRect& r = item->m_rect;
    area = area.united(QRect(QPoint(std::min(r.left, r.right), std::min(r.top, r.bottom)),
                             QPoint(std::max(r.left, r.right), std::max(r.top, r.bottom))));
  }
  return area;
}

void RenderForm(CPlexmarDoc& doc, const QRect& area, QPainter& painter, const QRect& target) {
  // The form is drawn as the screen shows it, pixel for pixel and with the
  // screen's fonts, and that picture is scaled onto the page: a printer's
  // resolution would otherwise shrink or swell the text against the shapes.
  QImage picture(area.size(), QImage::Format_RGB32);
  picture.fill(ColorFromRef(doc.GetBackground()));
  {
    QPainter canvas(&picture);
    canvas.translate(-area.left(), -area.top());
    CPainterDC dc(canvas);
    // A selected item draws only its outline; on paper every item shows itself.
    for (const auto& item : doc.m_items) {
      const int32_t selected = item->m_bSelected;
      item->m_bSelected = 0;
      item->Draw(dc, doc.GetBackground());
      item->m_bSelected = selected;
      item->m_bDirty = 1;
    }
  }
  const double scale = std::min(target.width() / static_cast<double>(area.width()),
                                target.height() / static_cast<double>(area.height()));
  const QSizeF size(area.width() * scale, area.height() * scale);
  const QRectF placed(target.left() + (target.width() - size.width()) / 2.0,
                      target.top() + (target.height() - size.height()) / 2.0, size.width(), size.height());
  painter.drawImage(placed, picture);
}

bool PrintForm(CPlexmarDoc& doc, QSize client, QPrinter& printer) {
  QPainter painter;
  if (!painter.begin(&printer)) return false;
  const QRect page = painter.viewport();
  RenderForm(doc, FormPrintArea(doc, client), painter, page);
  painter.end();
  return true;
}
