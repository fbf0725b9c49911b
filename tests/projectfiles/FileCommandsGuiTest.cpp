// The file commands on Qt's offscreen platform: the password dialog and the
// lock commands with their menu enabling, the three logic block CSV dialogs
// and commands, the tag CSV commands, Save All and Restore All.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>

#include <filesystem>
#include <fstream>

#include "core/ExchangeTag.h"
#include "core/HostUi.h"
#include "core/MainFrame.h"
#include "core/PlexmarApp.h"
#include "core/ProjectCommands.h"
#include "logic/LogicBlock.h"
#include "logic/LogicCsvCommands.h"
#include "logic/LogicCsvDialogs.h"
#include "resources/CommandIds.h"
#include "tags/PasswordDlg.h"
#include "tags/TagCommands.h"
#include "ui_ImportLogicBlkDlg.h"
#include "ui_LogicBlockExistsDlg.h"
#include "ui_PasswordDlg.h"
#include "ui_SelectLogicBlockDlg.h"

namespace fs = std::filesystem;

#include "tests/support/GuiTestApp.h"

namespace {

QApplication& App() { return testsupport::GuiApp(); }

void Snapshot(QWidget& widget, const QString& name) { testsupport::SaveSnapshot(widget, name); }

class Host : public IHostUi {
 public:
  void MessageBox(const std::string& text) override { messages.push_back(text); }
  int ShowForm(const std::string&) override { return 0; }
  int HideForm(const std::string&) override { return 0; }
  std::vector<std::string> messages;
};

class FileCommandsGui : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    app.SetHostUi(&host);
    ASSERT_TRUE(frame.Create());
    dir = fs::temp_directory_path() / ("plexmar-gui-" + std::to_string(getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override {
    app.SetHostUi(nullptr);
    fs::remove_all(dir);
  }
  std::string Path(const std::string& name) const { return (dir / name).string(); }
  void OpenForm() {
    auto* window = new QMdiSubWindow;
    window->setWidget(new QWidget(window));
    window->setWindowTitle(QStringLiteral("Plexform1"));
    frame.AddFormWindow(window);
    frame.MdiArea()->setActiveSubWindow(window);
    QApplication::processEvents();
  }
  // Answers for the dialogs, in order: a password text (typed, then OK) or
  // nothing (Cancel).
  std::function<int(QDialog&)> Passwords(std::vector<std::optional<std::string>> answers) {
    auto queue = std::make_shared<std::vector<std::optional<std::string>>>(std::move(answers));
    return [this, queue](QDialog& dialog) {
      auto& password = dynamic_cast<CPasswordDlg&>(dialog);
      captions.push_back(password.windowTitle().toStdString());
      EXPECT_TRUE(password.Form().editPassword->text().isEmpty()) << "the field starts empty";
      EXPECT_EQ(password.Form().editPassword->echoMode(), QLineEdit::Password);
      EXPECT_FALSE(queue->empty());
      if (queue->empty()) return int(QDialog::Rejected);
      const std::optional<std::string> answer = queue->front();
      queue->erase(queue->begin());
      if (!answer) return int(QDialog::Rejected);
      password.Form().editPassword->setText(QString::fromStdString(*answer));
      return int(QDialog::Accepted);
    };
  }

  QApplication& qapp = App();  // before any widget
  CPlexmarApp app;
  Host host;
  CMainFrame frame{app};
  fs::path dir;
  std::vector<std::string> captions;
};

}  // namespace

TEST_F(FileCommandsGui, PasswordDialogIsMaskedAndTakesItsCaption) {
  CPasswordDlg dialog(QStringLiteral("ReEnter Password for Verification"));
  EXPECT_EQ(dialog.windowTitle(), "ReEnter Password for Verification");
  EXPECT_EQ(dialog.Form().editPassword->echoMode(), QLineEdit::Password);
  auto* ok = dialog.Form().buttonBox->button(QDialogButtonBox::Ok);
  auto* cancel = dialog.Form().buttonBox->button(QDialogButtonBox::Cancel);
  ASSERT_NE(ok, nullptr);
  ASSERT_NE(cancel, nullptr);
  EXPECT_EQ(ok->text(), "OK");
  EXPECT_EQ(cancel->text(), "Cancel");
  dialog.Form().editPassword->setText("hunter2");
  EXPECT_EQ(dialog.Form().editPassword->displayText(), QString(7, dialog.Form().editPassword->displayText()[0]));
  EXPECT_NE(dialog.Form().editPassword->displayText(), "hunter2");
  Snapshot(dialog, "password_dialog");
  EXPECT_EQ(dialog.Password(), "hunter2");
}

TEST_F(FileCommandsGui, LockAndUnlockWithTheirMessagesAndMenuEnabling) {
  auto commands = InstallTagCommands(frame, app);
  EXPECT_TRUE(frame.IsCommandEnabled(cmd::ID_FILE_LOCK));
  EXPECT_FALSE(frame.IsCommandEnabled(cmd::ID_FILE_UNLOCK));

  commands->m_fnRunDialog = Passwords({std::string()});
  frame.RunCommand(cmd::ID_FILE_LOCK);
  EXPECT_EQ(app.m_bLocked, 0) << "an empty password does nothing";
  EXPECT_TRUE(host.messages.empty());

  commands->m_fnRunDialog = Passwords({std::string("Pump"), std::string("pump")});
  frame.RunCommand(cmd::ID_FILE_LOCK);
  EXPECT_EQ(app.m_bLocked, 0);
  EXPECT_EQ(host.messages, (std::vector<std::string>{"Password Entry Verification Failed"}));

  commands->m_fnRunDialog = Passwords({std::string("Pump"), std::nullopt});
  frame.RunCommand(cmd::ID_FILE_LOCK);
  EXPECT_EQ(app.m_bLocked, 0) << "Cancel on the second entry";

  captions.clear();
  commands->m_fnRunDialog = Passwords({std::string("Pump"), std::string("Pump")});
  frame.RunCommand(cmd::ID_FILE_LOCK);
  EXPECT_EQ(captions, (std::vector<std::string>{"Enter Password", "ReEnter Password for Verification"}));
  EXPECT_EQ(app.m_bLocked, 1);
  EXPECT_EQ(app.m_strPassword, "Pump");
  EXPECT_FALSE(frame.IsCommandEnabled(cmd::ID_FILE_LOCK));
  EXPECT_TRUE(frame.IsCommandEnabled(cmd::ID_FILE_UNLOCK));
  EXPECT_FALSE(frame.RunCommand(cmd::ID_FILE_LOCK));

  host.messages.clear();
  commands->m_fnRunDialog = Passwords({std::string("PUMP")});
  frame.RunCommand(cmd::ID_FILE_UNLOCK);
  EXPECT_EQ(host.messages, (std::vector<std::string>{"Incorrect Password!"}));
  EXPECT_EQ(app.m_bLocked, 1);

  commands->m_fnRunDialog = Passwords({std::string("Pump")});
  frame.RunCommand(cmd::ID_FILE_UNLOCK);
  EXPECT_EQ(app.m_bLocked, 0);
  EXPECT_TRUE(frame.IsCommandEnabled(cmd::ID_FILE_LOCK));
  EXPECT_FALSE(frame.IsCommandEnabled(cmd::ID_FILE_UNLOCK));
  // The menu items themselves: the bar without forms has "&Unlock" only,
  // a form window's bar has both.
  EXPECT_EQ(frame.FindCommand(cmd::ID_FILE_LOCK), nullptr);
  ASSERT_NE(frame.FindCommand(cmd::ID_FILE_UNLOCK), nullptr);
  EXPECT_FALSE(frame.FindCommand(cmd::ID_FILE_UNLOCK)->isEnabled());
  OpenForm();
  ASSERT_NE(frame.FindCommand(cmd::ID_FILE_LOCK), nullptr);
  EXPECT_EQ(frame.FindCommand(cmd::ID_FILE_LOCK)->text(), "&Lock");
  EXPECT_TRUE(frame.FindCommand(cmd::ID_FILE_LOCK)->isEnabled());
  EXPECT_FALSE(frame.FindCommand(cmd::ID_FILE_UNLOCK)->isEnabled());
  commands->m_fnRunDialog = Passwords({std::string("x"), std::string("x")});
  frame.FindCommand(cmd::ID_FILE_LOCK)->trigger();
  EXPECT_EQ(app.m_bLocked, 1);
  EXPECT_FALSE(frame.FindCommand(cmd::ID_FILE_LOCK)->isEnabled());
  EXPECT_TRUE(frame.FindCommand(cmd::ID_FILE_UNLOCK)->isEnabled());
}

TEST_F(FileCommandsGui, TheThreeLogicBlockDialogs) {
  CSelectLogicBlockDlg select({"LB1", "Alarms", "Totals"});
  EXPECT_EQ(select.windowTitle(), "Select Logic Block Table");
  ASSERT_EQ(select.Form().listBlocks->count(), 3);
  EXPECT_EQ(select.Form().listBlocks->item(1)->text(), "Alarms");
  EXPECT_EQ(select.Form().buttonOk->text(), "&OK");
  EXPECT_EQ(select.Form().buttonCancel->text(), "Cancel");
  EXPECT_FALSE(select.Form().buttonOk->isEnabled()) << "nothing selected yet";
  select.Form().listBlocks->setCurrentRow(2);
  EXPECT_TRUE(select.Form().buttonOk->isEnabled());
  EXPECT_EQ(select.Selected(), 2);
  Snapshot(select, "select_logic_block_table");
  select.Form().listBlocks->clearSelection();
  EXPECT_FALSE(select.Form().buttonOk->isEnabled());

  CImportLogicBlkDlg import;
  EXPECT_EQ(import.windowTitle(), "Import Logic Blk");
  EXPECT_EQ(import.Form().labelName->text(), "Name");
  EXPECT_TRUE(import.Form().editName->text().isEmpty());
  import.Form().editName->setText("LB7");
  Snapshot(import, "import_logic_blk");
  EXPECT_EQ(import.Name(), "LB7");

  CLogicBlockExistsDlg exists;
  EXPECT_EQ(exists.windowTitle(), "Logic Block Already Exists");
  EXPECT_EQ(exists.Form().labelQuestion->text(), "Do you want to overwrite it?");
  EXPECT_EQ(exists.Form().buttonYes->text(), "YES");
  EXPECT_EQ(exists.Form().buttonCancel->text(), "Cancel");
  Snapshot(exists, "logic_block_already_exists");
  exists.show();
  exists.Form().buttonYes->click();
  EXPECT_EQ(exists.result(), QDialog::Accepted);
}

TEST_F(FileCommandsGui, LogicBlockExportAndImportWhileAFormIsActive) {
  auto commands = InstallLogicCsvCommands(frame, app);
  EXPECT_FALSE(frame.IsCommandEnabled(cmd::ID_EDIT_EXPORT_LOGIC_BLK)) << "no form window";
  OpenForm();
  EXPECT_TRUE(frame.IsCommandEnabled(cmd::ID_EDIT_EXPORT_LOGIC_BLK));
  EXPECT_TRUE(frame.IsCommandEnabled(cmd::ID_EDIT_IMPORT_LOGIC_BLK));

  for (const char* name : {"First", "Second"}) {
    auto block = std::make_unique<CLogicBlock>();
    block->m_strName = name;
    auto entry = std::make_unique<CLogicEntry>();
    entry->m_strTag1 = std::string(name) + ".Out";
    entry->m_strTag2 = "In";
    block->m_entries.push_back(std::move(entry));
    app.AddLogicBlock(std::move(block));
  }
  std::string asked;
  commands->m_fnAskFile = [&](QWidget*, const FileDialogRequest& request) {
    asked = request.initialName.toStdString() + (request.bConfirmOverwrite ? " confirm" : "");
    return QString::fromStdString(Path("second.csv"));
  };
  commands->m_fnRunDialog = [](QDialog& dialog) {
    dynamic_cast<CSelectLogicBlockDlg&>(dialog).Form().listBlocks->setCurrentRow(1);
    return int(QDialog::Accepted);
  };
  frame.RunCommand(cmd::ID_EDIT_EXPORT_LOGIC_BLK);
  EXPECT_EQ(asked, "*.csv confirm");
  std::ifstream exported(Path("second.csv"), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(exported), {}), ",Second.Out,=,In,\r\n");

  // Import under the name of the first block: YES, then the file dialog is
  // cancelled, which keeps the block.
  std::vector<std::string> dialogs;
  bool answerYes = true;
  commands->m_fnRunDialog = [&](QDialog& dialog) {
    dialogs.push_back(dialog.windowTitle().toStdString());
    if (auto* name = dynamic_cast<CImportLogicBlkDlg*>(&dialog)) name->Form().editName->setText("First");
    return int(answerYes ? QDialog::Accepted : QDialog::Rejected);
  };
  commands->m_fnAskFile = [](QWidget*, const FileDialogRequest&) { return QString(); };
  frame.RunCommand(cmd::ID_EDIT_IMPORT_LOGIC_BLK);
  EXPECT_EQ(dialogs, (std::vector<std::string>{"Import Logic Blk", "Logic Block Already Exists"}));
  ASSERT_EQ(app.m_logicBlocks.size(), 2u);
  EXPECT_EQ(app.m_logicBlocks[0]->m_entries[0]->m_strTag1, "First.Out");

  // A file that cannot be opened: the message, the block unchanged.
  commands->m_fnAskFile = [&](QWidget*, const FileDialogRequest&) {
    return QString::fromStdString(Path("missing.csv"));
  };
  frame.RunCommand(cmd::ID_EDIT_IMPORT_LOGIC_BLK);
  EXPECT_EQ(host.messages, (std::vector<std::string>{"File Open Error"}));
  EXPECT_EQ(app.m_logicBlocks[0]->m_strName, "First");

  // YES with a file: the old block goes, the new one stands at the end.
  commands->m_fnAskFile = [&](QWidget*, const FileDialogRequest&) {
    return QString::fromStdString(Path("second.csv"));
  };
  frame.RunCommand(cmd::ID_EDIT_IMPORT_LOGIC_BLK);
  ASSERT_EQ(app.m_logicBlocks.size(), 2u);
  EXPECT_EQ(app.m_logicBlocks[0]->m_strName, "Second");
  EXPECT_EQ(app.m_logicBlocks[1]->m_strName, "First");
  EXPECT_EQ(app.m_logicBlocks[1]->m_entries[0]->m_strTag1, "Second.Out");

  // Cancel on the question keeps everything.
  answerYes = false;
  dialogs.clear();
  frame.RunCommand(cmd::ID_EDIT_IMPORT_LOGIC_BLK);
  EXPECT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(app.m_logicBlocks.size(), 2u);
}

TEST_F(FileCommandsGui, TagCsvCommandsAndTheirFileMessages) {
  auto commands = InstallTagCommands(frame, app);
  app.AddTag(std::make_unique<CExchangeTag>("Keep"));
  commands->m_fnAskFile = [&](QWidget*, const FileDialogRequest&) {
    return QString::fromStdString(Path("no/such/folder/tags.csv"));
  };
  frame.RunCommand(cmd::ID_EDIT_EXPORT_TAGS);
  frame.RunCommand(cmd::ID_EDIT_IMPORT_TAGS);
  EXPECT_EQ(host.messages, (std::vector<std::string>{"File Creation Error", "File Open Error"}));
  ASSERT_EQ(app.m_tags.size(), 1u) << "an import that cannot open its file keeps the table";
  commands->m_fnAskFile = [&](QWidget*, const FileDialogRequest&) { return QString::fromStdString(Path("")); };
  frame.RunCommand(cmd::ID_EDIT_IMPORT_TAGS);
  EXPECT_EQ(app.m_tags.size(), 1u) << "a folder is no tag file";

  commands->m_fnAskFile = [&](QWidget*, const FileDialogRequest&) {
    return QString::fromStdString(Path("tags.csv"));
  };
  frame.RunCommand(cmd::ID_EDIT_EXPORT_TAGS);
  app.AddTag(std::make_unique<CExchangeTag>("Extra"));
  frame.RunCommand(cmd::ID_EDIT_IMPORT_TAGS);
  ASSERT_EQ(app.m_tags.size(), 1u);
  EXPECT_EQ(app.m_tags[0]->m_strName, "Keep");
}

TEST_F(FileCommandsGui, SaveAllAndRestoreAllThroughTheMenu) {
  auto commands = InstallProjectCommands(frame, app);
  EXPECT_TRUE(frame.IsCommandEnabled(cmd::ID_FILE_RESTORE_ALL));
  app.AddTag(std::make_unique<CExchangeTag>("Saved"));
  app.m_bLocked = 1;
  app.m_strPassword = "pw";
  commands->m_fnAskFile = [&](QWidget*, const FileDialogRequest& request) {
    EXPECT_EQ(request.initialName, "*.tst");
    return QString::fromStdString(Path("p.tst"));
  };
  OpenForm();  // Save All is on the form window's File menu
  ASSERT_TRUE(frame.RunCommand(cmd::ID_FILE_SAVE_ALL));
  app.RemoveAllTags();
  app.m_bLocked = 0;
  ASSERT_TRUE(frame.RunCommand(cmd::ID_FILE_RESTORE_ALL));
  ASSERT_EQ(app.m_tags.size(), 1u);
  EXPECT_EQ(app.m_tags[0]->m_strName, "Saved");
  EXPECT_EQ(app.m_bLocked, 1);
  EXPECT_TRUE(host.messages.empty());

  // The project reader that start-up uses is the same load.
  app.RemoveAllTags();
  EXPECT_TRUE(frame.Core().ReadProject(Path("p.tst")));
  EXPECT_EQ(app.m_tags.size(), 1u);
}
