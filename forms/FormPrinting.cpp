#include "forms/FormPrinting.h"

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
  const double scale = std::min(target.width() / static_cast<double>(area.width()),
                                target.height() / static_cast<double>(area.height()));
  const double offsetX = target.left() + (target.width() - area.width() * scale) / 2.0;
  const double offsetY = target.top() + (target.height() - area.height() * scale) / 2.0;
  painter.save();
  painter.translate(offsetX, offsetY);
  painter.scale(scale, scale);
  painter.translate(-area.left(), -area.top());
  painter.setClipRect(area);
  painter.fillRect(area, ColorFromRef(doc.GetBackground()));
  CPainterDC dc(painter);
  // A selected item draws only its outline; on paper every item shows itself.
  for (const auto& item : doc.m_items) {
    const int32_t selected = item->m_bSelected;
    item->m_bSelected = 0;
    item->Draw(dc, doc.GetBackground());
    item->m_bSelected = selected;
    item->m_bDirty = 1;
  }
  painter.restore();
}

bool PrintForm(CPlexmarDoc& doc, QSize client, QPrinter& printer) {
  QPainter painter;
  if (!painter.begin(&printer)) return false;
  const QRect page = painter.viewport();
  RenderForm(doc, FormPrintArea(doc, client), painter, page);
  painter.end();
  return true;
}
