// Printing a form: its background and items drawn as the view draws them,
// on one page, scaled to fit the page with the form's proportions kept.
#pragma once

#include <QSize>

class CPlexmarDoc;
class QPainter;
class QPrinter;
class QRect;

// The part of the form a print shows: the client area, grown to take in
// items that lie beyond it.
QRect FormPrintArea(const CPlexmarDoc& doc, QSize client);
// Draws `area` of the form into `target` on `painter`, scaled to fit and
// centred. Every item is drawn, not only the dirty ones; the view must
// repaint with erasing afterwards, as drawing clears the items' dirty flags.
void RenderForm(CPlexmarDoc& doc, const QRect& area, QPainter& painter, const QRect& target);
// One page on `printer`; false when the printer cannot be painted on.
bool PrintForm(CPlexmarDoc& doc, QSize client, QPrinter& printer);
