// The view of a form document and the MDI child frame that holds it.
//
// The view paints through a CFormCanvas: erasing fills the background and
// marks every item dirty, a paint draws only dirty items, and the refresh
// timer (id 1, the document's rate) calls every item's OnRefresh and repaints
// without erasing, so an unchanged form draws nothing per tick.
//
// The mouse is where editing and run-time clicks come in; the handlers are
// the view's On... members, each of which ends in the default handling.
#pragma once

#include <QMdiSubWindow>
#include <QWidget>

#include <functional>

#include "forms/FormCanvas.h"
#include "forms/FormDC.h"
#include "forms/MMI_Item.h"
#include "forms/PlexmarDoc.h"

class CChildFrame;

class CPlexmarView : public QWidget, public IFormView {
  Q_OBJECT

 public:
  // Creation: registers with the document and starts the refresh timer.
  CPlexmarView(CPlexmarDoc& doc, QWidget* parent = nullptr);
  ~CPlexmarView() override;

  CPlexmarDoc& GetDocument() const { return m_doc; }
  CChildFrame* Frame() const;

  // --- IFormView ------------------------------------------------------------
  void Invalidate(bool bErase) override;
  CFormPlacement GetFramePlacement() const override;
  void SetFramePlacement(const CFormPlacement& placement) override;
  void ShowFrame() override;
  void HideFrame() override;
  void RestartTimer() override;
  void TitleChanged() override;

  // The items drawn by the last paint, and by every paint so far.
  int LastPaintDraws() const { return m_nLastPaintDraws; }
  long TotalPaintDraws() const { return m_nTotalPaintDraws; }
  const CFormCanvas& Canvas() const { return m_canvas; }
  // One refresh tick, as the timer gives it.
  void OnRefreshTick();

  // --- fields ---------------------------------------------------------------
  int32_t m_nTimerId = 0;
  int32_t m_nMode = 0;        // 0 idle, 1 rubber band, 2 dragging, 3 hot text pressed
  int32_t m_nInsertType = 0;  // type code chosen for the next insert
  CSize m_sizeClient;
  CPoint m_ptLast;
  CMMI_Item m_trackItem;      // the rubber band

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

  // The message handlers, with client coordinates. Each returns true when it
  // took the message, false for the default handling.
  virtual bool OnLButtonDown(int x, int y);
  virtual bool OnMouseMove(int x, int y);
  virtual bool OnLButtonUp(int x, int y);
  virtual bool OnLButtonDblClk(int x, int y);
  virtual bool OnRButtonDown(int x, int y);

 public:
  // "Form &Properties": the title, refresh rate and colours; on OK the timer
  // restarts with the new rate.
  void OnFormProperties();
  // "&Logic Blks": the logic block table on the application's blocks.
  void OnLogicBlks();
  // The first selected item of the list; null when none is.
  CMMI_Item* SelectedItem() const;

 private:
  // While the application is locked only run-time clicks act.
  bool IsLocked() const;
  // The end of a rubber band: a new item of the chosen type, when the band
  // is at least 10 pixels wide or high and its dialog is confirmed.
  void InsertItem();
  // The item's property dialog; rectangles, ellipses and bitmaps also give
  // their "Draw First" box.
  bool EditItem(CMMI_Item& item, int32_t& bDrawFirst);
  // To index 0: drawn first, under everything.
  void MoveToBottom(CMMI_Item& item);

 private:
  CPlexmarDoc& m_doc;
  CFormCanvas m_canvas;
  int m_nLastPaintDraws = 0;
  long m_nTotalPaintDraws = 0;
};

// The MDI child frame of a form: holds its view, tells its owner when the
// operator asks to close it (so that a modified form can be saved first) and
// when it moves, resizes, shows or hides.
class CChildFrame : public QMdiSubWindow {
  Q_OBJECT

 public:
  struct Hooks {
    // Whether the frame may close: false keeps it open.
    std::function<bool(CChildFrame&)> canClose;
    // The frame is going away; its view is gone already.
    std::function<void(CChildFrame&)> destroyed;
    // Shown or hidden: the main window's menus follow.
    std::function<void()> visibilityChanged;
  };

  CChildFrame(CPlexmarDoc& doc, Hooks hooks, QWidget* parent = nullptr);
  ~CChildFrame() override;

  CPlexmarDoc& GetDocument() const { return m_doc; }
  CPlexmarView* View() const { return m_pView; }
  // Moves and resizes mark the document modified once this is on (the
  // framework's own placing of a new frame does not count).
  void TrackChanges(bool on) { m_bTrackChanges = on; }
  void NotifyVisibility();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  CPlexmarDoc& m_doc;
  Hooks m_hooks;
  CPlexmarView* m_pView = nullptr;
  bool m_bTrackChanges = false;
};
