// The main window on Qt's offscreen platform: its menus, their enabling, its
// timer, messages from other threads, and a whole start with no project.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QThread>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "core/ExchangeTag.h"
#include "core/MainFrame.h"
#include "core/PlexmarApp.h"
#include "core/QtFramework.h"
#include "resources/CommandIds.h"
#include "serverkit/serverkit.h"

namespace fs = std::filesystem;

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "spine_gui_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// Runs the event loop until `done` holds or `ms` pass.
template <typename Pred>
bool SpinUntil(Pred done, int ms = 3000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

QStringList Texts(const QMenu* menu) {
  QStringList texts;
  for (const QAction* action : menu->actions())
    if (!action->isSeparator()) texts << action->text();
  return texts;
}

QMenu* Submenu(const QMenu* menu, const QString& title) {
  for (const QAction* action : menu->actions())
    if (action->menu() && action->text() == title) return action->menu();
  return nullptr;
}

QList<QMenu*> BarMenus(QMainWindow& window) {
  QList<QMenu*> menus;
  for (QAction* action : window.menuBar()->actions())
    if (action->menu()) menus << action->menu();
  return menus;
}

class MainFrameGui : public ::testing::Test {
 protected:
  void SetUp() override { App(); }
  CPlexmarApp m_app;
};

void ExpectSharedMenus(const QList<QMenu*>& menus) {
  QStringList ports;
  for (int n = 1; n <= 9; ++n) ports << QStringLiteral("COMM &%1").arg(n);
  ports << "modbus/TCP";
  EXPECT_EQ(Texts(menus[1]), (QStringList{"As Modbus &Master", "As Modbus &Slave", "OPC"}));
  ASSERT_NE(Submenu(menus[1], "As Modbus &Master"), nullptr);
  EXPECT_EQ(Texts(Submenu(menus[1], "As Modbus &Master")), ports);
  EXPECT_EQ(Texts(Submenu(menus[1], "As Modbus &Slave")), ports);
  EXPECT_EQ(Texts(Submenu(menus[1], "OPC")), (QStringList{"&Local", "&Remote"}));
  EXPECT_EQ(Texts(menus[3]), (QStringList{"&Help Topics", "&About Plexmar..."}));
}

TEST_F(MainFrameGui, MenuWithoutFormsAndMenuOfAFormWindow) {
  CMainFrame frame(m_app);
  ASSERT_TRUE(frame.Create());
  EXPECT_EQ(frame.CurrentMenuId(), 128);
  QList<QMenu*> menus = BarMenus(frame);
  ASSERT_EQ(menus.size(), 4);
  EXPECT_EQ(menus[0]->title(), "&File");
  EXPECT_EQ(menus[1]->title(), "&Connect");
  EXPECT_EQ(menus[2]->title(), "&Edit");
  EXPECT_EQ(menus[3]->title(), "&Help");
  EXPECT_EQ(Texts(menus[0]), (QStringList{"&New", "&Open...", "&Restore All", "&Unlock",
                                          "P&rint Setup...", "Recent File", "E&xit"}));
  EXPECT_EQ(Texts(menus[2]), (QStringList{"&TagList", "&Import Tags", "&Export Tags", "&Logic Blks",
                                          "I&mport Logic Blk", "E&xport Logic Blk"}));
  ExpectSharedMenus(menus);

  // A form window brings its own menu ...
  auto* form = new QMdiSubWindow;
  form->setWidget(new QWidget);
  frame.AddFormWindow(form);
  EXPECT_EQ(frame.CurrentMenuId(), 129);
  menus = BarMenus(frame);
  ASSERT_EQ(menus.size(), 4);
  EXPECT_EQ(Texts(menus[0]),
            (QStringList{"&New", "&Open...", "&Close", "&Save", "Save As...", "Save &All", "&Restore All",
                         "&Lock", "&Unlock", "&Print...", "Print Pre&view", "P&rint Setup...",
                         "Recent File", "E&xit"}));
  EXPECT_EQ(Texts(menus[2]),
            (QStringList{"&TagList", "&Import Tags", "&Export Tags", "&Logic Blks", "I&mport Logic Blk",
                         "E&xport Logic Blk", "Form &Properties", "test"}));
  ExpectSharedMenus(menus);

  // ... hiding the last form, or closing it, brings the other one back.
  form->hide();
  frame.UpdateMenus();
  EXPECT_EQ(frame.CurrentMenuId(), 128);
  form->show();
  frame.UpdateMenus();
  EXPECT_EQ(frame.CurrentMenuId(), 129);
  form->close();
  ASSERT_TRUE(SpinUntil([&] { return frame.CurrentMenuId() == 128; }));
  EXPECT_EQ(Texts(BarMenus(frame)[0]).size(), 7);
}

TEST_F(MainFrameGui, ItemsAreEnabledOnlyWithAHandler) {
  CMainFrame frame(m_app);
  ASSERT_TRUE(frame.Create());
  auto* form = new QMdiSubWindow;
  form->setWidget(new QWidget);
  frame.AddFormWindow(form);

  // Nothing but Exit has a handler in a bare main window.
  int enabled = 0;
  for (QMenu* menu : BarMenus(frame)) {
    std::function<void(QMenu*)> walk = [&](QMenu* m) {
      emit m->aboutToShow();
      for (QAction* action : m->actions()) {
        if (action->menu()) walk(action->menu());
        else if (!action->isSeparator() && action->isEnabled()) {
          ++enabled;
          EXPECT_EQ(action->text(), "E&xit");
        }
      }
    };
    walk(menu);
  }
  EXPECT_EQ(enabled, 1);

  int runs = 0;
  bool allowed = true;
  frame.SetCommandHandler(cmd::ID_EDIT_TAGLIST, [&] { ++runs; }, [&] { return allowed; });
  QAction* tagList = frame.FindCommand(cmd::ID_EDIT_TAGLIST);
  ASSERT_NE(tagList, nullptr);
  EXPECT_TRUE(tagList->isEnabled());
  tagList->trigger();
  EXPECT_EQ(runs, 1);
  allowed = false;
  emit BarMenus(frame)[2]->aboutToShow();
  EXPECT_FALSE(tagList->isEnabled());
  EXPECT_FALSE(frame.RunCommand(cmd::ID_EDIT_TAGLIST));
  EXPECT_EQ(runs, 1);

  // Submenu items route the same way.
  int masters = 0;
  frame.SetCommandHandler(cmd::ID_CONNECT_MASTER_COMM1 + 2, [&] { ++masters; });
  QAction* comm3 = frame.FindCommand(cmd::ID_CONNECT_MASTER_COMM1 + 2);
  ASSERT_NE(comm3, nullptr);
  EXPECT_EQ(comm3->text(), "COMM &3");
  EXPECT_TRUE(comm3->isEnabled());
  comm3->trigger();
  EXPECT_EQ(masters, 1);
  EXPECT_FALSE(frame.FindCommand(cmd::ID_CONNECT_SLAVE_COMM1 + 2)->isEnabled());

  // "test" stays disabled; so does the "Recent File" line of an empty list.
  EXPECT_FALSE(frame.FindCommand(cmd::ID_EDIT_TEST)->isEnabled());
  frame.SetCommandHandler(cmd::ID_FILE_MRU_FILE1, [] {});
  emit BarMenus(frame)[0]->aboutToShow();
  QAction* recent = frame.FindCommand(cmd::ID_FILE_MRU_FILE1);
  ASSERT_NE(recent, nullptr);
  EXPECT_EQ(recent->text(), "Recent File");
  EXPECT_FALSE(recent->isEnabled());
}

TEST_F(MainFrameGui, RecentFilesAppearBeforeExit) {
  CMainFrame frame(m_app);
  ASSERT_TRUE(frame.Create());
  for (const char* path : {"/plant/a", "/plant/b&c", "/plant/d", "/plant/e", "/plant/a"})
    frame.RecentFiles().Add(path);
  QString opened;
  frame.SetCommandHandler(cmd::ID_FILE_MRU_FILE1 + 1, [&] { opened = frame.RecentFiles().Files()[1]; });
  QMenu* file = BarMenus(frame)[0];
  emit file->aboutToShow();
  const QStringList texts = Texts(file);
  // Newest first, four at most, the re-added one moved to the top.
  EXPECT_EQ(texts.mid(texts.size() - 5),
            (QStringList{"&1 /plant/a", "&2 /plant/e", "&3 /plant/d", "&4 /plant/b&&c", "E&xit"}));
  frame.FindCommand(cmd::ID_FILE_MRU_FILE1 + 1)->trigger();
  EXPECT_EQ(opened, "/plant/e");
  // Opening the menu again does not pile entries up.
  emit file->aboutToShow();
  EXPECT_EQ(Texts(file).size(), texts.size());
}

TEST_F(MainFrameGui, TimerTwoTicksAtTheApplicationsPeriod) {
  {
    CMainFrame frame(m_app);
    ASSERT_TRUE(frame.Create());
    EXPECT_EQ(frame.Core().m_nTimerID, 2u);
    const int due = frame.Core().NextTimerDueMs();
    EXPECT_GT(due, 500);
    EXPECT_LE(due, 1000);
  }
  m_app.m_nTimerPeriod = 50;
  CMainFrame frame(m_app);
  std::atomic<int> ticks{0};
  int sends = 0;
  frame.Core().SetRefreshHook([&] { ++ticks; });
  frame.Core().SetSendNextRequestHook([&] { ++sends; });
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(frame.Create());
  ASSERT_TRUE(SpinUntil([&] { return ticks.load() >= 5; }));
  // Five ticks of 50 ms take at least about 250 ms; a timer that fires on
  // every pump would be far quicker.
  EXPECT_GE(clock.elapsed(), 240);
  EXPECT_EQ(sends, ticks.load());
}

TEST_F(MainFrameGui, MessagesFromOtherThreadsReachTheHandlerOnTheGuiThread) {
  CMainFrame frame(m_app);
  ASSERT_TRUE(frame.Create());
  std::atomic<int> handled{0};
  std::atomic<int> offThread{0};
  frame.Core().SetModbusResponseHook([&](WPARAM, LPARAM) {
    if (QThread::currentThread() != App().thread()) ++offThread;
    ++handled;
  });
  std::vector<std::thread> posters;
  for (int t = 0; t < 3; ++t)
    posters.emplace_back([&] {
      for (int i = 0; i < 50; ++i) PostMessage(m_app.MainWindow(), 0x403, 1, i);
    });
  for (auto& p : posters) p.join();
  ASSERT_TRUE(SpinUntil([&] { return handled.load() == 150; }));
  EXPECT_EQ(offThread.load(), 0);
  // 1025 is answered and changes nothing.
  EXPECT_EQ(frame.Core().WindowProc(0x401, 0, 1), 0);
}

int g_writes = 0;
bool g_writeOnGuiThread = false;
void GuiWrite(int32_t, VARIANT*, HRESULT*) {
  ++g_writes;
  g_writeOnGuiThread = QThread::currentThread() == App().thread();
}

TEST_F(MainFrameGui, ClientWriteRunsTheCallbackOnTheGuiThread) {
  CMainFrame frame(m_app);
  ASSERT_TRUE(frame.Create());
  InitOpcServer(kPlexmarClsid, 250);
  SetWriteCallback(GuiWrite, 1);
  const int32_t item = CreateServerTag("Gui.Write", MakeVariantI4(0), OPC_QUALITY_GOOD, 1);
  std::atomic<HRESULT> result{-1};
  std::thread client([&] { result = serverkit::WriteItem(item, MakeVariantI4(3)); });
  ASSERT_TRUE(SpinUntil([&] { return result.load() != -1; }));
  client.join();
  EXPECT_EQ(result.load(), S_OK);
  EXPECT_EQ(g_writes, 1);
  EXPECT_TRUE(g_writeOnGuiThread);
  ShutdownOpcServer();
}

// A whole start through the Qt framework, with the real libraries, in a
// folder that holds no plexmar.tst.
TEST_F(MainFrameGui, StartWithoutDefaultProjectOpensAnEmptyForm) {
  char pattern[] = "/tmp/plexmar-gui-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path folder = pattern;
  setenv("HOME", pattern, 1);
  setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
  setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);

  int argc = 1;
  char name[] = "plexmar";
  char* argv[] = {name, nullptr};
  CQtFramework framework(argc, argv, m_app);
  const std::string program = (folder / "plexmar").string();
  ASSERT_EQ(m_app.InitInstance(framework, LinkedLibraries(), {}, program), EStartupOutcome::kRun);
  CMainFrame* frame = framework.MainFrame();
  ASSERT_NE(frame, nullptr);
  EXPECT_TRUE(frame->isVisible());
  EXPECT_EQ(QCoreApplication::organizationName(), "Local AppWizard-Generated Applications");
  EXPECT_TRUE(m_app.m_tags.empty());
  EXPECT_TRUE(serverkit::IsRunning());
  // The shell command made one empty form, and the menu is the form's.
  ASSERT_EQ(frame->MdiArea()->subWindowList().size(), 1);
  EXPECT_EQ(frame->MdiArea()->subWindowList()[0]->windowTitle(), "Plexform1");
  EXPECT_EQ(frame->CurrentMenuId(), 129);
  ASSERT_TRUE(frame->RunCommand(cmd::ID_FILE_NEW));
  EXPECT_EQ(frame->MdiArea()->subWindowList().size(), 2);
  EXPECT_EQ(frame->MdiArea()->subWindowList()[1]->windowTitle(), "Plexform2");
  EXPECT_EQ(frame->windowTitle(), "Plexmar - Plexform2") << "the caption names the active form";
  // The framework is the core's host: logic blocks show and hide open forms
  // by title, ignoring case; a form that is not open cannot be shown.
  ASSERT_EQ(m_app.HostUi(), &framework);
  EXPECT_EQ(m_app.HideForm("PLEXFORM1"), 1);
  EXPECT_TRUE(frame->MdiArea()->subWindowList()[0]->isHidden());
  EXPECT_EQ(m_app.ShowForm("plexform1"), 1);
  EXPECT_FALSE(frame->MdiArea()->subWindowList()[0]->isHidden());
  EXPECT_EQ(m_app.ShowForm("Boiler"), 0);
  EXPECT_EQ(m_app.HideForm("Boiler"), 0);
  EXPECT_TRUE(frame->IsCommandEnabled(cmd::ID_FILE_NEW));
  EXPECT_TRUE(frame->IsCommandEnabled(cmd::ID_FILE_OPEN));
  // Registered with the running program as its executable.
  serverkit::Registration record;
  ASSERT_TRUE(serverkit::ReadRegistration(kPlexmarProgId, record));
  EXPECT_EQ(record.executable, program);

  // The screenshot for people: File menu of a form window, opened.
  if (const char* dir = std::getenv("PLEXMAR_SCREENSHOT_DIR")) {
    frame->resize(900, 600);
    QMenu* file = BarMenus(*frame)[0];
    file->popup(frame->mapToGlobal(QPoint(0, frame->menuBar()->height())));
    SpinUntil([&] { return file->isVisible(); }, 1000);
    QImage shot = frame->grab().toImage();
    QPainter painter(&shot);
    painter.drawPixmap(QPoint(4, frame->menuBar()->height()), file->grab());
    painter.end();
    shot.save(QString::fromUtf8(dir) + "/plexmar-mainwindow.png");
    file->hide();
  }

  m_app.ExitInstance(framework, LinkedLibraries());
  EXPECT_EQ(framework.MainFrame(), nullptr);
  EXPECT_EQ(m_app.HostUi(), nullptr) << "no host outlives its windows";
  EXPECT_FALSE(serverkit::IsRunning());
  fs::remove_all(folder);
}

}  // namespace
