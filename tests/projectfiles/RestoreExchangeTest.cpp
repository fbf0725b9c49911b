// Restore All and the lock with the real slave library and a real peer: a
// damaged project file leaves the Modbus/TCP slave serving the same
// registers to pymodbus, and a project saved locked restores locked and
// unlocks with the same password.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>

#include <filesystem>
#include <fstream>

#include "connections/ModbusConnections.h"
#include "core/ExchangeTag.h"
#include "core/HostUi.h"
#include "core/MainFrame.h"
#include "core/PlexmarApp.h"
#include "core/ProjectCommands.h"
#include "resources/CommandIds.h"
#include "tags/PasswordDlg.h"
#include "tags/TagCommands.h"
#include "tests/projectfiles/PymodbusPeer.h"
#include "tests/support/FreePort.h"
#include "ui_PasswordDlg.h"

namespace fs = std::filesystem;

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "projectfiles_restore_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

class Host : public IHostUi {
 public:
  void MessageBox(const std::string& text) override { messages.push_back(text); }
  int ShowForm(const std::string&) override { return 0; }
  int HideForm(const std::string&) override { return 0; }
  std::vector<std::string> messages;
};

class RestoreExchange : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("/usr/bin/python3 -c 'import pymodbus' 2>/dev/null") != 0)
      GTEST_SKIP() << "pymodbus is not installed";
    app.SetHostUi(&host);
    ASSERT_TRUE(frame.Create());
    dir = fs::temp_directory_path() / ("plexmar-restore-" + std::to_string(getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override {
    app.SetHostUi(nullptr);
    if (app.m_hTcpSlave != -1) CloseSlaveConnection(app.m_hTcpSlave);
    app.m_hTcpSlave = -1;
    app.RemoveAllTags();
    fs::remove_all(dir);
  }
  std::string Path(const std::string& name) const { return (dir / name).string(); }

  QApplication& qapp = App();
  CPlexmarApp app;
  Host host;
  CMainFrame frame{app};
  fs::path dir;
};

}  // namespace

TEST_F(RestoreExchange, DamagedFileKeepsTheSlaveServingTheSameRegisters) {
  const uint16_t port = testsupport::PickFreePort();
  ASSERT_NE(port, 0);
  app.m_nTcpSlavePort = port;
  modbusconn::OpenTcpSlave(app);
  ASSERT_NE(app.m_hTcpSlave, -1);
  auto tag = std::make_unique<CExchangeTag>("Level");
  tag->m_nSourceKind = CExchangeTag::kSourceLocal;
  tag->m_nAddress = 10;
  app.AddTag(std::move(tag));
  app.DefineLocalBlocks();
  ASSERT_EQ(Pymodbus(port, "unit(c.write_register, 9, 4321)\n"
                           "print('value', unit(c.read_holding_registers, 9, count=1).registers[0])\n"),
            "value 4321");

  auto commands = InstallProjectCommands(frame, app);
  ASSERT_TRUE(commands->Save(Path("good.tst")));
  std::ifstream in(Path("good.tst"), std::ios::binary);
  std::string bytes(std::istreambuf_iterator<char>(in), {});
  bytes.resize(bytes.size() / 2);
  std::ofstream(Path("damaged.tst"), std::ios::binary) << bytes;

  commands->m_fnAskFile = [&](QWidget*, const FileDialogRequest&) {
    return QString::fromStdString(Path("damaged.tst"));
  };
  ASSERT_TRUE(frame.RunCommand(cmd::ID_FILE_RESTORE_ALL));
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].rfind("File Open Error - " + Path("damaged.tst"), 0), 0u) << host.messages[0];
  ASSERT_EQ(app.m_tags.size(), 1u);
  EXPECT_EQ(Pymodbus(port, "print('value', unit(c.read_holding_registers, 9, count=1).registers[0])\n"),
            "value 4321")
      << "the exchange goes on";
}

TEST_F(RestoreExchange, ProjectSavedLockedRestoresLockedAndTheSamePasswordUnlocks) {
  auto project = InstallProjectCommands(frame, app);
  auto tags = InstallTagCommands(frame, app);
  std::vector<std::string> answers = {"Line 4", "Line 4"};
  tags->m_fnRunDialog = [&](QDialog& dialog) {
    auto& password = dynamic_cast<CPasswordDlg&>(dialog);
    password.Form().editPassword->setText(QString::fromStdString(answers.front()));
    answers.erase(answers.begin());
    return int(QDialog::Accepted);
  };
  frame.RunCommand(cmd::ID_FILE_LOCK);
  ASSERT_EQ(app.m_bLocked, 1);
  ASSERT_TRUE(project->Save(Path("locked.tst")));

  CPlexmarApp restarted;
  Host restartedHost;
  restarted.SetHostUi(&restartedHost);
  CMainFrame restartedFrame{restarted};
  ASSERT_TRUE(restartedFrame.Create());
  auto restartedTags = InstallTagCommands(restartedFrame, restarted);
  InstallProjectCommands(restartedFrame, restarted);
  ASSERT_TRUE(restartedFrame.Core().ReadProject(Path("locked.tst")));
  EXPECT_EQ(restarted.m_bLocked, 1);
  EXPECT_TRUE(restartedFrame.IsCommandEnabled(cmd::ID_FILE_UNLOCK));
  EXPECT_FALSE(restartedFrame.IsCommandEnabled(cmd::ID_FILE_LOCK));
  answers = {"Line 4"};
  restartedTags->m_fnRunDialog = tags->m_fnRunDialog;
  restartedFrame.RunCommand(cmd::ID_FILE_UNLOCK);
  EXPECT_EQ(restarted.m_bLocked, 0);
  EXPECT_TRUE(restartedHost.messages.empty());
  restarted.SetHostUi(nullptr);
}
