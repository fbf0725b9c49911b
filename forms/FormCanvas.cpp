#include "forms/FormCanvas.h"

#include <QPainter>

#include "forms/PainterDC.h"
#include "forms/PlexmarDoc.h"

void CFormCanvas::Resize(const QSize& size) {
  if (size == m_image.size()) return;
  m_image = QImage(size.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
  m_bNeedsErase = true;
}

void CFormCanvas::EraseBackground(CPlexmarDoc& doc) {
  if (m_image.isNull()) Resize(QSize(1, 1));
  QPainter painter(&m_image);
  CPainterDC dc(painter);
  dc.SelectPen(CFormPen::Null());
  const CFormBrush old = dc.SelectBrush(CFormBrush::Solid(doc.m_crBackground));
  dc.Rectangle(0, 0, m_image.width() + 1, m_image.height() + 1);
  dc.SelectBrush(old);
  for (auto& item : doc.m_items) item->m_bDirty = 1;
  m_bNeedsErase = false;
}

int CFormCanvas::PaintDirty(CPlexmarDoc& doc, CMMI_Item* trackItem) {
  int drawn = 0;
  QPainter painter;
  CPainterDC* dc = nullptr;
  std::unique_ptr<CPainterDC> holder;
  auto context = [&]() -> CPainterDC& {
    if (dc == nullptr) {
      painter.begin(&m_image);
      holder = std::make_unique<CPainterDC>(painter);
      dc = holder.get();
    }
    return *dc;
  };
  for (auto& item : doc.m_items) {
    if (!item->m_bDirty) continue;
    item->Draw(context(), doc.m_crBackground);
    ++drawn;
  }
  if (trackItem != nullptr) trackItem->Draw(context(), doc.m_crBackground);
  return drawn;
}

int CFormCanvas::Update(CPlexmarDoc& doc, CMMI_Item* trackItem) {
  if (m_bNeedsErase) EraseBackground(doc);
  return PaintDirty(doc, trackItem);
}
