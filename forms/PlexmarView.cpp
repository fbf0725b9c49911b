#include "forms/PlexmarView.h"

#include <QCloseEvent>
#include <QMdiArea>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QTimerEvent>

#include "core/PlexmarApp.h"
#include "forms/FormDialogHooks.h"
#include "forms/FormPropertiesDlg.h"
#include "forms/ItemDialogs.h"
#include "forms/MMI_Items.h"
#include "logic/LogicBlockEditing.h"

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
  // A double click stands in for the second button press, so it is never
  // passed on as one: that would press a hot text or open an item's dialog
  // a second time.
  const QPoint p = event->position().toPoint();
  if (event->button() == Qt::LeftButton) OnLButtonDblClk(p.x(), p.y());
  event->accept();
}

bool CPlexmarView::IsLocked() const {
  const CPlexmarApp* app = CPlexmarApp::Current();
  return app != nullptr && app->m_bLocked != 0;
}

CMMI_Item* CPlexmarView::SelectedItem() const {
  for (const auto& item : m_doc.m_items)
    if (item->m_bSelected) return item.get();
  return nullptr;
}

bool CPlexmarView::OnLButtonDown(int x, int y) {
  CMMI_Item* hit = m_doc.HitTest(x, y);
  if (IsLocked()) {
    // Run time: only a hot text takes a click; it shows pressed until the
    // button comes up.
    if (hit != nullptr && hit->m_nType == kItemHotText) {
      hit->m_bSelected = 1;
      m_nMode = 3;
      Invalidate(true);
    }
    return true;
  }
  if (hit != nullptr) {
    hit->m_bSelected = 1;
    m_nMode = 2;
    m_ptLast = {x, y};
  } else {
    m_trackItem.m_rect = {x, y, x, y};
    m_trackItem.m_bSelected = 1;
    m_nMode = 1;
  }
  Invalidate(true);
  return false;
}

bool CPlexmarView::OnMouseMove(int x, int y) {
  if (IsLocked()) return false;
  x = std::clamp(x, 0, std::max(m_sizeClient.cx, 0));
  y = std::clamp(y, 0, std::max(m_sizeClient.cy, 0));
  if (m_nMode == 1) {
    m_trackItem.m_rect.right = x;
    m_trackItem.m_rect.bottom = y;
    Invalidate(true);
  } else if (m_nMode == 2) {
    CMMI_Item* item = SelectedItem();
    if (item == nullptr) return false;
    const int dx = x - m_ptLast.x;
    const int dy = y - m_ptLast.y;
    item->m_rect.left += dx;
    item->m_rect.right += dx;
    item->m_rect.top += dy;
    item->m_rect.bottom += dy;
    m_ptLast = {x, y};
    Invalidate(true);
  }
  return false;
}

bool CPlexmarView::OnLButtonUp(int, int) {
  CMMI_Item* selected = SelectedItem();
  if (selected != nullptr) selected->m_bSelected = 0;
  m_doc.SetModifiedFlag(true);
  if (m_nMode == 1) {
    m_nMode = 0;
    InsertItem();
  } else if (auto* hot = dynamic_cast<CMMI_HotTxtItem*>(selected)) {
    // The block runs wherever the button came up, at run time and after a
    // click or drag in edit mode alike.
    const std::string block = hot->m_strLogicBlock;
    CPlexmarApp* app = CPlexmarApp::Current();
    if (!block.empty() && app != nullptr) app->RunLogicBlock(block);
  }
  m_nMode = 0;
  Invalidate(true);
  return false;
}

bool CPlexmarView::EditItem(CMMI_Item& item, int32_t& bDrawFirst) {
  bDrawFirst = 0;
  switch (item.m_nType) {
    case kItemRect:
    case kItemEllipse:
      if (auto* rect = dynamic_cast<CMMI_RectItem*>(&item)) return rect->EditProperties(bDrawFirst);
      return false;
    case kItemBitmap:
      if (auto* bitmap = dynamic_cast<CMMI_BmpItem*>(&item)) return bitmap->EditProperties(bDrawFirst);
      return false;
    default:
      return item.EditProperties();
  }
}

void CPlexmarView::InsertItem() {
  CRect band = m_trackItem.m_rect;
  if (band.left > band.right) std::swap(band.left, band.right);
  if (band.top > band.bottom) std::swap(band.top, band.bottom);
  if (band.Width() < 10 && band.Height() < 10) return;

  const FormDialogHooks& hooks = FormHooks();
  CCustomDisplayDlg choice(kItemText, this);
  if (!hooks.run || hooks.run(choice) != QDialog::Accepted) return;
  m_nInsertType = choice.Type();
  std::unique_ptr<CMMI_Item> item = CreateFormItem(m_nInsertType);
  if (item == nullptr) return;
  item->m_rect = band;
  item->m_nType = m_nInsertType;
  int32_t bDrawFirst = 0;
  if (!EditItem(*item, bDrawFirst)) return;
  const bool under = bDrawFirst != 0 && (m_nInsertType == kItemRect || m_nInsertType == kItemBitmap ||
                                         m_nInsertType == kItemEllipse);
  if (under)
    m_doc.m_items.insert(m_doc.m_items.begin(), std::move(item));
  else
    m_doc.m_items.push_back(std::move(item));
}

bool CPlexmarView::OnLButtonDblClk(int x, int y) {
  if (CMMI_Item* hit = m_doc.HitTest(x, y)) {
    hit->OnDoubleClick();
    Invalidate(true);
  }
  return false;
}

void CPlexmarView::OnFormProperties() {
  const FormDialogHooks& hooks = FormHooks();
  CFormPropDlg dialog(m_doc.GetTitle(), m_doc.m_nRefreshRate, m_doc.GetForeground(), m_doc.GetBackground(), this);
  dialog.m_hooks = hooks;
  if (!hooks.run || hooks.run(dialog) != QDialog::Accepted) return;
  m_doc.SetTitle(dialog.m_strTitle);
  m_doc.m_nRefreshRate = dialog.m_nRefreshRate;
  RestartTimer();
  m_doc.SetForeground(dialog.m_crForeground);
  m_doc.SetBackground(dialog.m_crBackground);
}

void CPlexmarView::OnLogicBlks() {
  if (CPlexmarApp* app = CPlexmarApp::Current()) OpenLogicBlockTables(*app, window());
}

bool CPlexmarView::OnRButtonDown(int x, int y) {
  if (IsLocked()) return false;
  CMMI_Item* hit = m_doc.HitTest(x, y);
  if (hit == nullptr) return false;
  int32_t bDrawFirst = 0;
  if (EditItem(*hit, bDrawFirst)) {
    const bool under = bDrawFirst != 0 &&
                       (hit->m_nType == kItemRect || hit->m_nType == kItemBitmap || hit->m_nType == kItemEllipse);
    if (under) MoveToBottom(*hit);
    Invalidate(true);
    return true;
  }
  const FormDialogHooks& hooks = FormHooks();
  if (hooks.askYesNo && hooks.askYesNo(this, QStringLiteral("Do you want to delete this item?"))) {
    auto& items = m_doc.m_items;
    items.erase(std::find_if(items.begin(), items.end(), [hit](const auto& p) { return p.get() == hit; }));
  }
  Invalidate(true);
  return false;
}

void CPlexmarView::MoveToBottom(CMMI_Item& item) {
  auto& items = m_doc.m_items;
  auto at = std::find_if(items.begin(), items.end(), [&item](const auto& p) { return p.get() == &item; });
  if (at == items.end()) return;
  std::rotate(items.begin(), at, at + 1);
}

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
