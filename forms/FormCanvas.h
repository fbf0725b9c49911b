// The picture of a form, kept off the screen: what the view's erase and paint
// do to it, in one place that tests and benchmarks drive without a window.
//
// Erase fills the client area with the form's background colour and marks
// every item dirty; a paint draws only the dirty items, in list order, and
// then the rubber band while one is being dragged. The canvas keeps what was
// drawn, so a paint with no dirty item changes nothing and costs no drawing.
#pragma once

#include <QImage>
#include <QSize>

class CPlexmarDoc;
class CMMI_Item;

class CFormCanvas {
 public:
  // The client size; a new size starts a blank picture that must be erased.
  void Resize(const QSize& size);
  QSize Size() const { return m_image.size(); }
  bool NeedsErase() const { return m_bNeedsErase; }
  void RequestErase() { m_bNeedsErase = true; }

  // The background over (0, 0, cx + 1, cy + 1) with the null pen, and every
  // item dirty.
  void EraseBackground(CPlexmarDoc& doc);
  // Draws the dirty items and, when given, the rubber band; the number of
  // items drawn.
  int PaintDirty(CPlexmarDoc& doc, CMMI_Item* trackItem = nullptr);
  // Erase when asked for, then paint: what one paint message does.
  int Update(CPlexmarDoc& doc, CMMI_Item* trackItem = nullptr);

  const QImage& Image() const { return m_image; }

 private:
  QImage m_image;
  bool m_bNeedsErase = true;
};
