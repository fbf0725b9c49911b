// The main window: an MDI frame with the two menu bars, the message target
// that the Modbus libraries post to, and the one timer. What it does with
// messages and ticks lives in CMainFrameCore; this class is the Qt side that
// pumps it on the user-interface thread.
#pragma once

#include <QMainWindow>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

#include "core/MainFrameCore.h"
#include "core/RecentFileList.h"
#include "resources/Menus.h"

class QMdiArea;
class QMdiSubWindow;
class CPlexmarApp;

class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  explicit CMainFrame(CPlexmarApp& app, QWidget* parent = nullptr);
  ~CMainFrame() override;

  // What window creation does: menus in place, the message target registered
  // with the application, timer id 2 started. False when the timer could not
  // be started.
  bool Create();

  CMainFrameCore& Core() { return *m_core; }
  QMdiArea* MdiArea() const { return m_mdi; }
  CRecentFileList& RecentFiles() { return m_recent; }

  // --- commands -------------------------------------------------------------
  // A menu item is enabled while it has a handler and `enabled` (when given)
  // says yes. Setting a handler again replaces it.
  using CommandFn = std::function<void()>;
  using EnabledFn = std::function<bool()>;
  void SetCommandHandler(int id, CommandFn run, EnabledFn enabled = {});
  void RemoveCommandHandler(int id);
  // Runs a command as its menu item would; false when it is disabled.
  bool RunCommand(int id);
  bool IsCommandEnabled(int id) const;
  // The item of `id` in the menu bar shown now, or null.
  QAction* FindCommand(int id) const;

  // --- menus ----------------------------------------------------------------
  // 129 while a form window is shown, else 128.
  bool IsFormMenuShown() const { return m_bFormMenu; }
  int CurrentMenuId() const;
  // Re-checks which bar applies and every item's enabling; forms call it
  // after showing or hiding a window.
  void UpdateMenus();
  void UpdateCommandStates();
  const CMenuBars& MenuBars() const { return m_bars; }

  // Takes a form window into the MDI area and shows it.
  void AddFormWindow(QMdiSubWindow* window);

 protected:
  bool event(QEvent* event) override;

 private:
  struct WakeLink;
  void PumpNow();
  void ArmTimer();
  void ConnectMenu(QMenu* menu);
  void RefreshRecentEntries(QMenu* file, QAction* recentEnd);
  bool AnyFormShown() const;

  CPlexmarApp& m_app;
  std::shared_ptr<WakeLink> m_wake;
  std::unique_ptr<CMainFrameCore> m_core;
  QTimer m_timer;  // the next due timer of the message target
  QMdiArea* m_mdi = nullptr;
  CMenuBars m_bars;
  bool m_bFormMenu = false;
  bool m_bMenusShown = false;
  bool m_bDestroying = false;
  CRecentFileList m_recent;
  struct Command {
    CommandFn run;
    EnabledFn enabled;
  };
  std::map<int, Command> m_commands;
};
