#include "forms/PlexmarView.h"

#include <QCloseEvent>
#include <QMdiArea>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QTimerEvent>

#include <algorithm>

namespace {

// A window timer fires no more often than every 10 ms, whatever rate a form
// file holds, so that a damaged rate cannot keep the user-interface thread
// busy.
int TimerPeriod(int32_t rate) { return std::max(rate, 10); }

}  // namespace

// --- CPlexmarView ------------------------------------------------------------------

CPlexmarView::CPlexmarView(CPlexmarDoc& doc, QWidget* parent) : QWidget(parent), m_doc(doc) {
  // Every pixel comes from the canvas: Qt need not clear anything first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(false);
  m_doc.m_pView = this;
  m_sizeClient = {width(), height()};
  m_nTimerId = startTimer(TimerPeriod(m_doc.m_nRefreshRate));
}

CPlexmarView::~CPlexmarView() {
  if (m_nTimerId != 0) killTimer(m_nTimerId);
  if (m_doc.m_pView == this) m_doc.m_pView = nullptr;
}

CChildFrame* CPlexmarView::Frame() const {
  for (QWidget* w = parentWidget(); w != nullptr; w = w->parentWidget())
    if (auto* frame = qobject_cast<CChildFrame*>(w)) return frame;
  return nullptr;
}

void CPlexmarView::Invalidate(bool bErase) {
  if (bErase) m_canvas.RequestErase();
  update();
}

void CPlexmarView::paintEvent(QPaintEvent* event) {
  m_canvas.Resize(size());
  CMMI_Item* band = m_nMode == 1 ? &m_trackItem : nullptr;
  m_nLastPaintDraws = m_canvas.Update(m_doc, band);
  m_nTotalPaintDraws += m_nLastPaintDraws;
  QPainter painter(this);
  painter.drawImage(event->rect(), m_canvas.Image(), event->rect());
}

void CPlexmarView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  m_sizeClient = {width(), height()};
  // The newly exposed area is erased, as a resized window's is.
  m_canvas.RequestErase();
}

void CPlexmarView::RestartTimer() {
  if (m_nTimerId != 0) killTimer(m_nTimerId);
  m_nTimerId = startTimer(TimerPeriod(m_doc.m_nRefreshRate));
}

void CPlexmarView::OnRefreshTick() {
  for (auto& item : m_doc.m_items) item->OnRefresh(m_doc.m_nRefreshRate);
}

void CPlexmarView::timerEvent(QTimerEvent* event) {
  if (event->timerId() == m_nTimerId) OnRefreshTick();
  Invalidate(false);
  QWidget::timerEvent(event);
}

CFormPlacement CPlexmarView::GetFramePlacement() const {
  CFormPlacement placement;
  const QWidget* frame = Frame();
  if (frame == nullptr) frame = this;
  placement.bMinimized = frame->isMinimized() ? 1 : 0;
  placement.bMaximized = frame->isMaximized() ? 1 : 0;
  // A frame's geometry is relative to the MDI area's client, which is the
  // main window's client area.
  const QRect g = frame->geometry();
  placement.rect = {g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
  return placement;
}

void CPlexmarView::SetFramePlacement(const CFormPlacement& placement) {
  QWidget* frame = Frame();
  if (frame == nullptr) return;
  const CRect& r = placement.rect;
  // A damaged or foreign rectangle is still placed, but never as nothing.
  frame->setGeometry(r.left, r.top, std::max(r.Width(), 40), std::max(r.Height(), 30));
  if (placement.bMinimized) frame->showMinimized();
  if (placement.bMaximized) frame->showMaximized();
}

void CPlexmarView::ShowFrame() {
  CChildFrame* frame = Frame();
  if (frame == nullptr) return;
  frame->showNormal();
  if (QMdiArea* area = frame->mdiArea()) area->setActiveSubWindow(frame);
  frame->NotifyVisibility();
}

void CPlexmarView::HideFrame() {
  CChildFrame* frame = Frame();
  if (frame == nullptr) return;
  frame->hide();
  frame->NotifyVisibility();
}

void CPlexmarView::TitleChanged() {
  if (CChildFrame* frame = Frame()) {
    frame->setWindowTitle(QString::fromStdString(m_doc.GetTitle()));
    frame->NotifyVisibility();
  }
}

// --- mouse ---------------------------------------------------------------------------

void CPlexmarView::mousePressEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  bool taken = false;
  if (event->button() == Qt::LeftButton) taken = OnLButtonDown(p.x(), p.y());
  if (event->button() == Qt::RightButton) taken = OnRButtonDown(p.x(), p.y());
  if (!taken) QWidget::mousePressEvent(event);
}

void CPlexmarView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (!OnMouseMove(p.x(), p.y())) QWidget::mouseMoveEvent(event);
}

void CPlexmarView::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (event->button() != Qt::LeftButton || !OnLButtonUp(p.x(), p.y())) QWidget::mouseReleaseEvent(event);
}

void CPlexmarView::mouseDoubleClickEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (event->button() != Qt::LeftButton || !OnLButtonDblClk(p.x(), p.y())) QWidget::mouseDoubleClickEvent(event);
}

// Editing and run-time clicks are not handled yet: every message gets the
// default handling.
bool CPlexmarView::OnLButtonDown(int, int) { return false; }
bool CPlexmarView::OnMouseMove(int, int) { return false; }
bool CPlexmarView::OnLButtonUp(int, int) { return false; }
bool CPlexmarView::OnLButtonDblClk(int, int) { return false; }
bool CPlexmarView::OnRButtonDown(int, int) { return false; }

// --- CChildFrame -----------------------------------------------------------------------

CChildFrame::CChildFrame(CPlexmarDoc& doc, Hooks hooks, QWidget* parent)
    : QMdiSubWindow(parent), m_doc(doc), m_hooks(std::move(hooks)) {
  setAttribute(Qt::WA_DeleteOnClose);
  m_pView = new CPlexmarView(doc, this);
  setWidget(m_pView);
  setWindowTitle(QString::fromStdString(doc.GetTitle()));
}

CChildFrame::~CChildFrame() {
  // The view goes first, so that the document never points at a view that
  // is being taken down, and then the owner lets the document go.
  delete m_pView;
  m_pView = nullptr;
  if (m_hooks.destroyed) m_hooks.destroyed(*this);
}

void CChildFrame::NotifyVisibility() {
  if (m_hooks.visibilityChanged) m_hooks.visibilityChanged();
}

void CChildFrame::closeEvent(QCloseEvent* event) {
  if (m_hooks.canClose && !m_hooks.canClose(*this)) {
    event->ignore();
    return;
  }
  QMdiSubWindow::closeEvent(event);
}

void CChildFrame::moveEvent(QMoveEvent* event) {
  QMdiSubWindow::moveEvent(event);
  if (m_bTrackChanges) m_doc.SetModifiedFlag(true);
}

void CChildFrame::resizeEvent(QResizeEvent* event) {
  QMdiSubWindow::resizeEvent(event);
  if (m_bTrackChanges) m_doc.SetModifiedFlag(true);
}
