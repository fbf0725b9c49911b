#include "core/MainFrame.h"

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>

#include <atomic>
#include <mutex>

#include "core/PlexmarApp.h"
#include "resources/CommandIds.h"

namespace {

QEvent::Type PumpEventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

bool IsRecentFileId(int id) {
  return id >= cmd::ID_FILE_MRU_FILE1 && id < cmd::ID_FILE_MRU_FILE1 + cmd::kRecentFileSlots;
}

void ForEachCommand(const QList<QMenu*>& menus, const std::function<void(QAction*)>& visit) {
  for (QMenu* menu : menus) {
    for (QAction* action : menu->actions()) {
      if (QMenu* sub = action->menu())
        ForEachCommand({sub}, visit);
      else if (CommandIdOf(action) != 0)
        visit(action);
    }
  }
}

}  // namespace

// The bridge from any thread to the window: library threads call the wake
// function, which posts one event at a time to the window while it exists.
struct CMainFrame::WakeLink {
  std::mutex mutex;
  QObject* receiver = nullptr;
  std::atomic<bool> pending{false};

  void Wake() {
    if (pending.exchange(true)) return;  // one event is already on its way
    std::lock_guard lock(mutex);
    if (receiver != nullptr) QCoreApplication::postEvent(receiver, new QEvent(PumpEventType()));
  }
};

CMainFrame::CMainFrame(CPlexmarApp& app, QWidget* parent)
    : QMainWindow(parent), m_app(app), m_wake(std::make_shared<WakeLink>()) {
  m_wake->receiver = this;
  m_core = std::make_unique<CMainFrameCore>(app, [link = m_wake] { link->Wake(); });

  // Timers such as the slave library's RTU end-of-frame timers are a few
  // milliseconds long.
  m_timer.setSingleShot(true);
  m_timer.setTimerType(Qt::PreciseTimer);
  connect(&m_timer, &QTimer::timeout, this, &CMainFrame::PumpNow);

  m_mdi = new QMdiArea(this);
  setCentralWidget(m_mdi);
  connect(m_mdi, &QMdiArea::subWindowActivated, this, [this] { UpdateMenus(); });

  m_bars = BuildMenuBars(this);
  for (QMenu* menu : m_bars.noForm) ConnectMenu(menu);
  ConnectMenu(m_bars.fileForm);
  ConnectMenu(m_bars.form[2]);  // the form window's own Edit menu
  connect(m_bars.fileNoForm, &QMenu::aboutToShow, this,
          [this] { RefreshRecentEntries(m_bars.fileNoForm, m_bars.recentEndNoForm); });
  connect(m_bars.fileForm, &QMenu::aboutToShow, this,
          [this] { RefreshRecentEntries(m_bars.fileForm, m_bars.recentEndForm); });

  setWindowTitle(QStringLiteral("Plexmar"));
  resize(800, 600);

  SetCommandHandler(cmd::ID_APP_EXIT, [this] { close(); });
}

CMainFrame::~CMainFrame() {
  // QMainWindow's destructor deletes the menus before the MDI area, whose
  // windows still report activation changes on their way out.
  m_bDestroying = true;
  disconnect(m_mdi, nullptr, this, nullptr);
  for (QMdiSubWindow* window : m_mdi->subWindowList()) disconnect(window, nullptr, this, nullptr);
  {
    std::lock_guard lock(m_wake->mutex);
    m_wake->receiver = nullptr;
  }
  m_core.reset();
}

bool CMainFrame::Create() {
  UpdateMenus();
  const bool created = m_core->OnCreate();
  ArmTimer();
  return created;
}

bool CMainFrame::event(QEvent* event) {
  if (event->type() == PumpEventType()) {
    m_wake->pending = false;
    PumpNow();
    return true;
  }
  return QMainWindow::event(event);
}

void CMainFrame::PumpNow() {
  m_core->Pump();
  ArmTimer();
}

void CMainFrame::ArmTimer() {
  const int due = m_core->NextTimerDueMs();
  if (due < 0)
    m_timer.stop();
  else
    m_timer.start(due);
}

// --- commands ------------------------------------------------------------------

void CMainFrame::ConnectMenu(QMenu* menu) {
  connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);
  for (QAction* action : menu->actions()) {
    if (QMenu* sub = action->menu()) {
      ConnectMenu(sub);
    } else if (const int id = CommandIdOf(action)) {
      connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
    }
  }
}

void CMainFrame::SetCommandHandler(int id, CommandFn run, EnabledFn enabled) {
  m_commands[id] = Command{std::move(run), std::move(enabled)};
  UpdateCommandStates();
}

void CMainFrame::RemoveCommandHandler(int id) {
  m_commands.erase(id);
  UpdateCommandStates();
}

bool CMainFrame::IsCommandEnabled(int id) const {
  auto it = m_commands.find(id);
  if (it == m_commands.end() || !it->second.run) return false;
  return !it->second.enabled || it->second.enabled();
}

bool CMainFrame::RunCommand(int id) {
  if (!IsCommandEnabled(id)) return false;
  // A copy: the handler may replace itself.
  CommandFn run = m_commands[id].run;
  run();
  return true;
}

void CMainFrame::UpdateCommandStates() {
  if (m_bDestroying) return;
  auto update = [this](QAction* action) {
    const bool placeholder = action->property(kRecentPlaceholderProperty).toBool();
    action->setEnabled(!placeholder && IsCommandEnabled(CommandIdOf(action)));
  };
  ForEachCommand(m_bars.noForm, update);
  ForEachCommand(m_bars.form, update);
}

QAction* CMainFrame::FindCommand(int id) const {
  QAction* found = nullptr;
  ForEachCommand(m_bFormMenu ? m_bars.form : m_bars.noForm, [&](QAction* action) {
    if (found == nullptr && CommandIdOf(action) == id) found = action;
  });
  return found;
}

// --- menus -----------------------------------------------------------------------

int CMainFrame::CurrentMenuId() const { return m_bFormMenu ? cmd::IDR_PLEXFORM : cmd::IDR_MAINFRAME; }

bool CMainFrame::AnyFormShown() const {
  for (QMdiSubWindow* window : m_mdi->subWindowList())
    if (!window->isHidden()) return true;
  return false;
}

void CMainFrame::UpdateMenus() {
  if (m_bDestroying) return;
  const bool form = AnyFormShown();
  if (!m_bMenusShown || form != m_bFormMenu) {
    m_bFormMenu = form;
    m_bMenusShown = true;
    // clear() only takes the menus' actions off the bar; the menus belong to
    // this window and are kept for the next switch.
    menuBar()->clear();
    for (QMenu* menu : form ? m_bars.form : m_bars.noForm) menuBar()->addMenu(menu);
  }
  UpdateCommandStates();
  // The caption names the active form, as an MDI frame's does.
  const QMdiSubWindow* active = m_mdi->currentSubWindow();
  setWindowTitle(active != nullptr ? QStringLiteral("Plexmar - ") + active->windowTitle()
                                   : QStringLiteral("Plexmar"));
}

void CMainFrame::RefreshRecentEntries(QMenu* file, QAction* recentEnd) {
  for (QAction* action : file->actions())
    if (IsRecentFileId(CommandIdOf(action))) {
      file->removeAction(action);
      action->deleteLater();
    }
  const QStringList& files = m_recent.Files();
  if (files.isEmpty()) {
    auto* placeholder = new QAction(QStringLiteral("Recent File"), file);
    placeholder->setData(cmd::ID_FILE_MRU_FILE1);
    placeholder->setProperty(kRecentPlaceholderProperty, true);
    placeholder->setEnabled(false);
    file->insertAction(recentEnd, placeholder);
    return;
  }
  for (int i = 0; i < files.size() && i < cmd::kRecentFileSlots; ++i) {
    auto* entry = new QAction(CRecentFileList::MenuText(i, files[i]), file);
    const int id = cmd::ID_FILE_MRU_FILE1 + i;
    entry->setData(id);
    entry->setEnabled(IsCommandEnabled(id));
    connect(entry, &QAction::triggered, this, [this, id] { RunCommand(id); });
    file->insertAction(recentEnd, entry);
  }
}

void CMainFrame::AddFormWindow(QMdiSubWindow* window) {
  window->setAttribute(Qt::WA_DeleteOnClose);
  m_mdi->addSubWindow(window);
  // The bar is re-chosen once the closed window has left the area.
  connect(window, &QObject::destroyed, this, [this] {
    QMetaObject::invokeMethod(this, [this] { UpdateMenus(); }, Qt::QueuedConnection);
  });
  window->show();
  UpdateMenus();
}
