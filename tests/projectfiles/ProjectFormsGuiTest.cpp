// The project file's list of open forms with the real form template, on Qt's
// offscreen platform: Save All saves every open form to its own file and
// lists it; Restore All and the start-up reader close the open forms and open
// the listed ones again, each frame where its form file puts it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMdiArea>

#include <QDir>

#include <cstdlib>
#include <filesystem>

#include "core/ExchangeTag.h"
#include "core/HostUi.h"
#include "core/MainFrame.h"
#include "core/PlexmarApp.h"
#include "core/ProjectCommands.h"
#include "core/ProjectFile.h"
#include "core/ValueConversion.h"
#include "logic/LogicBlock.h"
#include "forms/FormTemplate.h"
#include "forms/MMI_Items.h"
#include "forms/MMI_TrendItem.h"
#include "forms/PlexmarView.h"
#include "platform/archive.h"
#include "resources/CommandIds.h"

namespace fs = std::filesystem;

namespace {

QApplication& FormsApp() {
  static int argc = 1;
  static char name[] = "projectfiles_forms_gui_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// Lets deferred work (the frames' change tracking, repaints) run.
void Settle(int ms = 100) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

double Number(const CExchangeTag& tag) { return std::stod(GetValueString(tag, VT_R8)); }

class Messages : public IHostUi {
 public:
  void MessageBox(const std::string& text) override { texts.push_back(text); }
  int ShowForm(const std::string&) override { return 0; }
  int HideForm(const std::string&) override { return 0; }
  std::vector<std::string> texts;
};

class ProjectForms : public ::testing::Test {
 protected:
  void SetUp() override {
    app.SetHostUi(&host);
    dir = fs::temp_directory_path() / ("plexmar-project-forms-" + std::to_string(getpid()));
    fs::create_directories(dir);
    forms = std::make_unique<CFormTemplate>([this] { return &frame; },
                                            [this](const std::string& text) { host.texts.push_back(text); });
    app.m_pDocTemplate = forms.get();
    forms->InstallCommands(frame);
    commands = InstallProjectCommands(frame, app);
    ASSERT_TRUE(frame.Create());
    frame.resize(900, 700);
    frame.show();
    forms->m_askSave = [this](const QString& title) {
      asked.push_back(title.toStdString());
      return answer;
    };
    forms->m_askSavePath = [this](const QString&) {
      if (savePaths.empty()) return QString();
      const QString next = QString::fromStdString(savePaths.front());
      savePaths.erase(savePaths.begin());
      return next;
    };
    commands->m_fnAskFile = [this](QWidget*, const FileDialogRequest&) {
      return QString::fromStdString(projectPath);
    };
  }
  void TearDown() override {
    forms->m_askSave = [](const QString&) { return QMessageBox::No; };
    forms->CloseAllDocuments();
    app.m_pDocTemplate = nullptr;
    app.SetHostUi(nullptr);
    fs::remove_all(dir);
  }
  std::string Path(const std::string& name) const { return (dir / name).string(); }
  CPlexmarDoc& NewForm(const QRect& geometry) {
    EXPECT_TRUE(forms->NewDocument());
    CPlexmarDoc& doc = *forms->Document(forms->DocumentCount() - 1);
    forms->FrameOf(doc)->setGeometry(geometry);
    return doc;
  }
  std::vector<std::string> Titles() const {
    std::vector<std::string> titles;
    for (CPlexmarDoc* doc : forms->Documents()) titles.push_back(doc->GetTitle());
    return titles;
  }

  QApplication& qapp = FormsApp();  // before any widget
  CPlexmarApp app;
  Messages host;
  CMainFrame frame{app};
  std::unique_ptr<CFormTemplate> forms;
  std::shared_ptr<CProjectCommands> commands;
  fs::path dir;
  std::string projectPath;
  std::vector<std::string> savePaths;
  std::vector<std::string> asked;
  QMessageBox::StandardButton answer = QMessageBox::No;
};

TEST_F(ProjectForms, SaveAllListsEveryFormAndRestoreAllBringsThemBack) {
  app.AddTag(std::make_unique<CExchangeTag>("Level"));
  CPlexmarDoc& tanks = NewForm(QRect(20, 30, 320, 240));
  {
    auto text = std::make_unique<CMMI_TxtItem>();
    text->m_nType = kItemText;
    text->m_rect = {10, 10, 80, 26};
    text->m_strText = "Tank 1";
    tanks.m_items.push_back(std::move(text));
    auto value = std::make_unique<CMMI_TagItem>();
    value->m_nType = kItemTag;
    value->m_rect = {10, 40, 60, 56};
    value->m_strTag = "Level";
    tanks.m_items.push_back(std::move(value));
  }
  tanks.m_nRefreshRate = 250;
  CPlexmarDoc& pumps = NewForm(QRect(360, 60, 400, 300));
  {
    auto bar = std::make_unique<CMMI_BarItem>();
    bar->m_nType = kItemBar;
    bar->m_rect = {20, 20, 50, 200};
    bar->m_strTag = "Level";
    bar->m_fHigh = 100.0f;
    pumps.m_items.push_back(std::move(bar));
    auto hot = std::make_unique<CMMI_HotTxtItem>();
    hot->m_nType = kItemHotText;
    hot->m_rect = {80, 20, 160, 40};
    hot->m_strText = "Start";
    hot->m_strLogicBlock = "StartPump";
    pumps.m_items.push_back(std::move(hot));
  }
  pumps.SetModifiedFlag(true);
  Settle();

  // Save All: both untitled forms are saved under the names asked for, in
  // the framework's order, and the project lists exactly those files.
  projectPath = Path("plant.tst");
  savePaths = {Path("Tanks"), Path("Pumps")};
  ASSERT_TRUE(frame.RunCommand(cmd::ID_FILE_SAVE_ALL));
  EXPECT_TRUE(host.texts.empty());
  ASSERT_TRUE(fs::exists(Path("Tanks")));
  ASSERT_TRUE(fs::exists(Path("Pumps")));
  EXPECT_FALSE(pumps.IsModified());
  EXPECT_EQ(Titles(), (std::vector<std::string>{"Tanks", "Pumps"}));
  CProjectImage image;
  std::string error;
  ASSERT_TRUE(ParseProject(CArchive::FromFile(projectPath).Bytes(), image, error)) << error;
  EXPECT_EQ(image.forms, (std::vector<std::string>{Path("Tanks"), Path("Pumps")}));

  // The operator closes one, opens a new one and changes it: Restore All
  // closes every open form (asking about the changed one) and opens the two
  // of the project, nothing else.
  ASSERT_TRUE(forms->CloseDocument(pumps));
  CPlexmarDoc& scratch = NewForm(QRect(0, 0, 200, 150));
  scratch.SetModifiedFlag(true);
  const std::string scratchTitle = scratch.GetTitle();  // the form goes with the restore
  Settle();
  ASSERT_TRUE(frame.RunCommand(cmd::ID_FILE_RESTORE_ALL));
  EXPECT_TRUE(host.texts.empty()) << host.texts.front();
  EXPECT_EQ(asked, (std::vector<std::string>{scratchTitle}));
  ASSERT_EQ(Titles(), (std::vector<std::string>{"Tanks", "Pumps"}));
  Settle();

  CPlexmarDoc& tanksAgain = *forms->Document(0);
  CPlexmarDoc& pumpsAgain = *forms->Document(1);
  EXPECT_EQ(forms->FrameOf(tanksAgain)->geometry(), QRect(20, 30, 320, 240));
  EXPECT_EQ(forms->FrameOf(pumpsAgain)->geometry(), QRect(360, 60, 400, 300));
  EXPECT_FALSE(tanksAgain.IsModified()) << "placing the frames from the files is no change";
  EXPECT_FALSE(pumpsAgain.IsModified());
  EXPECT_EQ(tanksAgain.m_nRefreshRate, 250);
  ASSERT_EQ(tanksAgain.m_items.size(), 2u);
  ASSERT_EQ(tanksAgain.m_items[0]->m_nType, kItemText);
  EXPECT_EQ(static_cast<CMMI_TxtItem&>(*tanksAgain.m_items[0]).m_strText, "Tank 1");
  ASSERT_EQ(tanksAgain.m_items[1]->m_nType, kItemTag);
  EXPECT_EQ(static_cast<CMMI_TagItem&>(*tanksAgain.m_items[1]).m_strTag, "Level");
  ASSERT_EQ(pumpsAgain.m_items.size(), 2u);
  ASSERT_EQ(pumpsAgain.m_items[0]->m_nType, kItemBar);
  EXPECT_EQ(static_cast<CMMI_BarItem&>(*pumpsAgain.m_items[0]).m_fHigh, 100.0f);
  ASSERT_EQ(pumpsAgain.m_items[1]->m_nType, kItemHotText);
  EXPECT_EQ(static_cast<CMMI_HotTxtItem&>(*pumpsAgain.m_items[1]).m_strLogicBlock, "StartPump");
  ASSERT_EQ(app.m_tags.size(), 1u) << "the tags came back with the forms";

  // The start-up reader is the same load: it closes the forms open now and
  // opens the listed ones again, once each.
  asked.clear();
  ASSERT_TRUE(forms->NewDocument());
  EXPECT_TRUE(frame.Core().ReadProject(projectPath));
  EXPECT_TRUE(asked.empty()) << "an unchanged new form goes without a question";
  EXPECT_EQ(Titles(), (std::vector<std::string>{"Tanks", "Pumps"}));
}

// Saving again overwrites the forms in place (no name is asked for a form
// that has a file), and a form whose Save As the operator cancels is left out
// of the list rather than listed without a file.
TEST_F(ProjectForms, AFormLeftUnsavedIsNotListed) {
  CPlexmarDoc& kept = NewForm(QRect(10, 10, 300, 200));
  NewForm(QRect(40, 40, 300, 200));
  projectPath = Path("two.tst");
  savePaths = {Path("Kept")};  // the second Save As is cancelled
  ASSERT_TRUE(frame.RunCommand(cmd::ID_FILE_SAVE_ALL));
  CProjectImage image;
  std::string error;
  ASSERT_TRUE(ParseProject(CArchive::FromFile(projectPath).Bytes(), image, error)) << error;
  EXPECT_EQ(image.forms, (std::vector<std::string>{Path("Kept")}));

  kept.m_nRefreshRate = 500;
  kept.SetModifiedFlag(true);
  savePaths.clear();
  ASSERT_TRUE(frame.RunCommand(cmd::ID_FILE_SAVE_ALL));
  CPlexmarDoc check;
  ASSERT_TRUE(check.LoadFromBytes(CArchive::FromFile(Path("Kept")).Bytes(), error)) << error;
  EXPECT_EQ(check.m_nRefreshRate, 500);

  // A listed form file that has gone since is reported by the template and
  // the rest of the project still loads.
  fs::remove(Path("Kept"));
  host.texts.clear();
  ASSERT_TRUE(frame.RunCommand(cmd::ID_FILE_RESTORE_ALL));
  EXPECT_EQ(forms->DocumentCount(), 0);
  EXPECT_EQ(host.texts, (std::vector<std::string>{CFormTemplate::kOpenFailedText}));
}

// The demo project's operator form: generated with the project into a folder
// of the test's own, listed in it, opened by the load, every tag and logic
// block it names there; its hot texts' blocks move the values it shows. The
// picture goes to screenshots/demo-overview.png.
TEST_F(ProjectForms, TheDemoFormOpensWithTheDemoProject) {
  const fs::path generator = fs::path(PLEXMAR_BINARY_DIR) / "demo" / "plexmar_demo";
  if (!fs::exists(generator)) GTEST_SKIP() << "plexmar_demo is not built";
  projectPath = Path("plexmar.tst");
  const std::string command =
      generator.string() + " " PLEXMAR_SOURCE_DIR "/demo/demo-project.txt " + projectPath + " > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  CProjectImage demo;
  std::string error;
  ASSERT_TRUE(ParseProject(CArchive::FromFile(projectPath).Bytes(), demo, error)) << error;
  ASSERT_EQ(demo.forms, (std::vector<std::string>{Path("Overview")}));
  // No server socket in a test: the slave stays closed, the rest as generated.
  demo.bTcpSlaveOpen = 0;
  ASSERT_TRUE(CArchive(ProjectBytes(demo)).SaveToFile(projectPath));

  ASSERT_TRUE(frame.Core().ReadProject(projectPath));
  EXPECT_TRUE(host.texts.empty()) << host.texts.front();
  ASSERT_EQ(Titles(), (std::vector<std::string>{"Overview"}));
  CPlexmarDoc& overview = *forms->Document(0);
  int kinds[9] = {};
  for (const auto& item : overview.m_items) {
    ASSERT_GE(item->m_nType, kItemText);
    ASSERT_LE(item->m_nType, kItemTrend);
    ++kinds[item->m_nType];
    if (auto* value = dynamic_cast<CMMI_TagItem*>(item.get())) {
      EXPECT_NE(app.FindTag(value->m_strTag), nullptr) << value->m_strTag;
    }
    if (auto* hot = dynamic_cast<CMMI_HotTxtItem*>(item.get())) {
      EXPECT_NE(app.FindLogicBlock(hot->m_strLogicBlock), nullptr) << hot->m_strLogicBlock;
    }
    if (auto* trend = dynamic_cast<CMMI_TrendItem*>(item.get())) {
      for (const TrendPen& pen : trend->m_pens) {
        if (pen.m_bEnabled) {
          EXPECT_NE(app.FindTag(pen.m_strTag), nullptr) << pen.m_strTag;
        }
      }
    }
  }
  for (int kind : {kItemText, kItemTag, kItemBar, kItemHotText, kItemTrend})
    EXPECT_GT(kinds[kind], 0) << "an item of type " << kind;

  // Scale follows every write of Demo.Raw; Step adds 100, Reset clears it.
  CExchangeTag& raw = *app.FindTag("Demo.Raw");
  CExchangeTag& scaled = *app.FindTag("Demo.Scaled");
  HRESULT result = 0;
  raw.Write(MakeVariantI4(400), result);
  app.FindLogicBlock("Step")->Run(app, "");
  EXPECT_EQ(Number(raw), 500.0);
  EXPECT_EQ(Number(scaled), 1010.0);
  app.FindLogicBlock("Reset")->Run(app, "");
  EXPECT_EQ(Number(raw), 0.0);
  EXPECT_EQ(Number(scaled), 10.0);

  // A minute of history on the chart, as an operator sees it after pressing
  // Step now and then, and the values at their last state.
  CMMI_TrendItem* trend = nullptr;
  for (const auto& item : overview.m_items)
    if (item->m_nType == kItemTrend) trend = static_cast<CMMI_TrendItem*>(item.get());
  ASSERT_NE(trend, nullptr);
  for (int second = 0; second < 60; ++second) {
    if (second % 8 == 3) app.FindLogicBlock("Step")->Run(app, "");
    trend->m_nCountdown = 0;
    trend->OnRefresh(overview.m_nRefreshRate);
  }
  CChildFrame* window = forms->FrameOf(overview);
  window->View()->Invalidate(true);
  Settle(1200);  // two refresh ticks: the values show their text
  const QString dir = QStringLiteral(PLEXMAR_BINARY_DIR "/screenshots");
  QDir().mkpath(dir);
  EXPECT_TRUE(window->grab().save(dir + "/demo-overview.png"));
  EXPECT_TRUE(frame.grab().save(dir + "/demo-main-window.png"));
}

}  // namespace
