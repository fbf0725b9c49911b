// Start-up and shutdown of the application object, in order, against
// recorders of the framework and of the linked libraries.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "connections/OpcServerLink.h"
#include "core/AppFramework.h"
#include "core/ExchangeTag.h"
#include "core/PlexmarApp.h"
#include "serverkit/serverkit.h"

namespace fs = std::filesystem;

namespace {

struct Recorder {
  std::vector<std::string> log;
  void operator()(std::string entry) { log.push_back(std::move(entry)); }
};

class RecordingTemplate : public IDocumentTemplate {
 public:
  bool NewDocument() override { return true; }
  bool OpenDocumentFile(const std::string&) override { return true; }
};

class RecordingFramework : public IAppFramework {
 public:
  explicit RecordingFramework(Recorder& r) : m_r(r) {}
  bool InitOle() override { m_r("InitOle"); return m_bOle; }
  void ShowMessage(const std::string& text) override { m_r("Message " + text); }
  void LoadStdProfileSettings(const std::string& key, int recent) override {
    m_r("Settings " + key + " " + std::to_string(recent));
  }
  IDocumentTemplate* CreateDocumentTemplate() override { m_r("Template"); return &m_template; }
  bool CreateMainWindow() override { m_r("MainWindow"); return m_bWindow; }
  bool ProcessShellCommand(const CCommandLineInfo& info) override {
    m_r("Shell " + std::to_string(info.files.size()));
    return m_bShell;
  }
  void ShowMainWindow() override { m_r("Show"); }
  void ReadProject(const std::string& path) override { m_r("ReadProject " + path); }
  void ExitFramework() override { m_r("ExitFramework"); }

  bool m_bOle = true, m_bWindow = true, m_bShell = true;

 private:
  Recorder& m_r;
  RecordingTemplate m_template;
};

class RecordingLibraries : public ISystemLibraries {
 public:
  explicit RecordingLibraries(Recorder& r) : m_r(r) {}
  void SocketsStartup() override { m_r("SocketsStartup"); }
  void SocketsCleanup() override { m_r("SocketsCleanup"); }
  bool RegisterOpcServer(const char* clsid, const char* progId, const char* description,
                         const char* exe) override {
    EXPECT_STREQ(clsid, kPlexmarClsid);
    EXPECT_STREQ(progId, "Norvell.Plexmar_Server");
    EXPECT_STREQ(description, "Norvell Software Plexmar Server");
    m_r(std::string("Register ") + exe);
    return m_bRegisterOk;
  }
  bool UnregisterOpcServer(const char*, const char* progId) override {
    m_r(std::string("Unregister ") + progId);
    return true;
  }
  bool RegisterOpcServerService(const char* progId) override {
    m_r(std::string("Service ") + progId);
    return true;
  }
  void InitOpcServer(const char*, int32_t rate) override { m_r("InitOpcServer " + std::to_string(rate)); }
  void SetWriteCallback(WriteCallback callback, int32_t mode) override {
    m_r(std::string("WriteCallback ") + (callback == &OnServerTagWrite ? "engine " : "other ") +
        std::to_string(mode));
  }
  void ShutdownOpcServer() override {
    // Every item must already be withdrawn.
    m_r("ShutdownOpcServer items=" + std::to_string(serverkit::ListItems().size()));
    ::ShutdownOpcServer();
  }
  void CloseSlaveConnection(int32_t h) override { m_r("CloseSlave " + std::to_string(h)); }
  void CloseMasterConnection(int32_t h) override { m_r("CloseMaster " + std::to_string(h)); }
  void ClientDisconnectServer(int32_t s) override { m_r("Disconnect " + std::to_string(s)); }

  bool m_bRegisterOk = true;

 private:
  Recorder& m_r;
};

class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/plexmar-start-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_folder = pattern;
    m_program = (m_folder / "plexmar").string();
  }
  void TearDown() override { fs::remove_all(m_folder); }

  EStartupOutcome Start(const std::vector<std::string>& args) {
    return m_app.InitInstance(m_framework, m_libraries, args, m_program);
  }

  fs::path m_folder;
  std::string m_program;
  Recorder m_rec;
  RecordingFramework m_framework{m_rec};
  RecordingLibraries m_libraries{m_rec};
  CPlexmarApp m_app;
};

TEST(CommandLine, TokensSplitAtDashSlashAndBlank) {
  EXPECT_EQ(TokenizeCommandLine("/a -b  c--d/e"),
            (std::vector<std::string>{"a", "b", "c", "d", "e"}));
  EXPECT_TRUE(TokenizeCommandLine(" -/ ").empty());
}

TEST(CommandLine, RegistrationWordsIgnoreCaseAndTheFirstDecides) {
  EXPECT_EQ(FindRegistrationWord("/regserver"), ERegistrationWord::kRegServer);
  EXPECT_EQ(FindRegistrationWord("-REGSERVER"), ERegistrationWord::kRegServer);
  EXPECT_EQ(FindRegistrationWord("RegServer"), ERegistrationWord::kRegServer);
  EXPECT_EQ(FindRegistrationWord("UnregServer RegServer"), ERegistrationWord::kUnregServer);
  EXPECT_EQ(FindRegistrationWord("-Service /RegServer"), ERegistrationWord::kService);
  EXPECT_EQ(FindRegistrationWord("/x/unregserver-y"), ERegistrationWord::kUnregServer);
  // Whole tokens only.
  EXPECT_EQ(FindRegistrationWord("/RegServers -Serviced Reg Server"), ERegistrationWord::kNone);
  EXPECT_EQ(FindRegistrationWord(""), ERegistrationWord::kNone);
}

TEST(CommandLine, PathsAreNotSearchedForWords) {
  EXPECT_EQ(JoinCommandLine({"-x", "/plant/Service/boiler", "RegServer"}), "-x RegServer");
  EXPECT_EQ(JoinCommandLine({"/regserver", "-REGSERVER"}), "/regserver -REGSERVER");
  const CCommandLineInfo info = ParseCommandLine({"/plant/Service/boiler", "-forms/UnregServer"});
  EXPECT_EQ(info.registration, ERegistrationWord::kNone);
  EXPECT_EQ(info.files, (std::vector<std::string>{"/plant/Service/boiler", "-forms/UnregServer"}));
}

TEST(CommandLine, FrameworkFlagsAndFiles) {
  CCommandLineInfo info = ParseCommandLine({"-Embedding"});
  EXPECT_TRUE(info.bStartedByCom);
  EXPECT_TRUE(info.files.empty());
  info = ParseCommandLine({"/AUTOMATION"});
  EXPECT_TRUE(info.bStartedByCom);
  // An absolute path is a file here, not a flag.
  info = ParseCommandLine({"/home/op/forms/Boiler", "-x"});
  EXPECT_FALSE(info.bStartedByCom);
  ASSERT_EQ(info.files.size(), 1u);
  EXPECT_EQ(info.files[0], "/home/op/forms/Boiler");
}

TEST(Display, OffscreenOnlyWithoutAnyDisplayOrChosenPlatform) {
  DisplayChoice c = ChooseDisplay(nullptr, nullptr, nullptr);
  EXPECT_TRUE(c.setOffscreen);
  EXPECT_TRUE(c.headless);
  c = ChooseDisplay("", "", "");  // set but empty counts as unset
  EXPECT_TRUE(c.setOffscreen);
  c = ChooseDisplay(":0", nullptr, nullptr);
  EXPECT_FALSE(c.setOffscreen);
  EXPECT_FALSE(c.headless);
  c = ChooseDisplay(nullptr, "wayland-0", nullptr);
  EXPECT_FALSE(c.setOffscreen);
  EXPECT_FALSE(c.headless);
  // The operator's choice stands; the service unit chooses offscreen.
  c = ChooseDisplay(nullptr, nullptr, "xcb");
  EXPECT_FALSE(c.setOffscreen);
  EXPECT_FALSE(c.headless);
  c = ChooseDisplay(":0", nullptr, "offscreen");
  EXPECT_FALSE(c.setOffscreen);
  EXPECT_TRUE(c.headless);
}

TEST_F(Startup, RegServerInAnyCaseRegistersAndExitsWithoutAWindow) {
  for (const char* word : {"/regserver", "-REGSERVER", "RegServer"}) {
    m_rec.log.clear();
    EXPECT_EQ(Start({word}), EStartupOutcome::kExitSuccess) << word;
    EXPECT_EQ(m_rec.log, (std::vector<std::string>{"SocketsStartup", "Register " + m_program}))
        << word;
  }
}

TEST_F(Startup, FormInAFolderNamedServiceIsOpenedNotRegistered) {
  EXPECT_EQ(Start({"/home/op/Service/boiler"}), EStartupOutcome::kRun);
  ASSERT_GE(m_rec.log.size(), 6u);
  EXPECT_EQ(m_rec.log[5], "Shell 1");
}

TEST_F(Startup, UnregServerBeforeRegServerOnlyUnregisters) {
  EXPECT_EQ(Start({"UnregServer", "RegServer"}), EStartupOutcome::kExitSuccess);
  EXPECT_EQ(m_rec.log, (std::vector<std::string>{"SocketsStartup", "Unregister Norvell.Plexmar_Server"}));
}

TEST_F(Startup, ServiceRegistersThenInstallsTheUnit) {
  EXPECT_EQ(Start({"/Service"}), EStartupOutcome::kExitSuccess);
  EXPECT_EQ(m_rec.log, (std::vector<std::string>{"SocketsStartup", "Register " + m_program,
                                                 "Service Norvell.Plexmar_Server"}));
}

TEST_F(Startup, RegistrationThatCannotBeWrittenIsAFailure) {
  m_libraries.m_bRegisterOk = false;
  EXPECT_EQ(Start({"-RegServer"}), EStartupOutcome::kExitFailure);
  m_rec.log.clear();
  EXPECT_EQ(Start({"-Service"}), EStartupOutcome::kExitFailure);
  EXPECT_EQ(m_rec.log, (std::vector<std::string>{"SocketsStartup", "Register " + m_program}))
      << "no service unit for a program that is not registered";
}

TEST_F(Startup, NormalStartRunsEveryStepInOrder) {
  std::ofstream(m_folder / "plexmar.tst") << "x";
  m_app.m_bLocked = 1;
  m_app.m_comm[3].nBaudRate = 19200;
  m_app.m_comm[3].hMaster = 4;
  m_app.m_tcpMasters[5].strHost = "plc";
  m_app.m_nTcpSlavePort = 1502;
  EXPECT_EQ(Start({}), EStartupOutcome::kRun);
  const std::vector<std::string> expected = {
      "SocketsStartup",
      "InitOle",
      "Settings Local AppWizard-Generated Applications 4",
      "Template",
      "MainWindow",
      "Shell 0",
      "Register " + m_program,
      "InitOpcServer 250",
      "WriteCallback engine 1",
      "Show",
      "ReadProject " + (m_folder / "plexmar.tst").string(),
  };
  EXPECT_EQ(m_rec.log, expected);
  EXPECT_EQ(m_app.m_bLocked, 0);
  EXPECT_EQ(m_app.m_nTimerPeriod, 1000);
  for (const CommPortSettings& port : m_app.m_comm) {
    EXPECT_EQ(port.nBaudRate, 9600);
    EXPECT_EQ(port.nDataBits, 8);
    EXPECT_EQ(port.nStopBits, 0);
    EXPECT_EQ(port.nParity, 0);
    EXPECT_EQ(port.nProtocol, 1);
    EXPECT_EQ(port.nMasterTimeout, 2000);
    EXPECT_EQ(port.hSlave, -1);
    EXPECT_EQ(port.hMaster, -1);
  }
  for (const TcpMasterSlot& slot : m_app.m_tcpMasters) {
    EXPECT_EQ(slot.hMaster, -1);
    EXPECT_EQ(slot.nPort, 502);
    EXPECT_TRUE(slot.strHost.empty());
  }
  EXPECT_EQ(m_app.m_nTcpMasterTimeout, 2000);
  EXPECT_EQ(m_app.m_nTcpSlavePort, 502);
  EXPECT_EQ(m_app.m_hTcpSlave, -1);
  EXPECT_NE(m_app.m_pDocTemplate, nullptr);
}

TEST_F(Startup, MissingDefaultProjectIsSilentlySkipped) {
  // A folder of that name is no project either.
  fs::create_directory(m_folder / "elsewhere");
  EXPECT_EQ(Start({}), EStartupOutcome::kRun);
  for (const std::string& entry : m_rec.log) {
    EXPECT_EQ(entry.rfind("ReadProject", 0), std::string::npos) << entry;
    EXPECT_EQ(entry.rfind("Message", 0), std::string::npos) << entry;
  }
  EXPECT_EQ(m_rec.log.back(), "Show");
  EXPECT_TRUE(m_app.m_tags.empty());
}

TEST_F(Startup, StartedByComStaysHiddenAndLoadsNothing) {
  std::ofstream(m_folder / "plexmar.tst") << "x";
  EXPECT_EQ(Start({"-Embedding"}), EStartupOutcome::kRun);
  EXPECT_EQ(m_rec.log, (std::vector<std::string>{"SocketsStartup", "InitOle",
                                                 "Settings Local AppWizard-Generated Applications 4",
                                                 "Template", "MainWindow"}));
  EXPECT_TRUE(m_app.m_bStartedByCom);
}

TEST_F(Startup, FailuresEndStartUp) {
  m_framework.m_bOle = false;
  EXPECT_EQ(Start({}), EStartupOutcome::kExitFailure);
  EXPECT_EQ(m_rec.log.back(),
            "Message OLE initialization failed.  Make sure that the OLE libraries are the correct "
            "version.");

  m_framework.m_bOle = true;
  m_framework.m_bWindow = false;
  m_rec.log.clear();
  EXPECT_EQ(Start({}), EStartupOutcome::kExitFailure);
  EXPECT_EQ(m_rec.log.back(), "MainWindow");

  m_framework.m_bWindow = true;
  m_framework.m_bShell = false;
  m_rec.log.clear();
  EXPECT_EQ(Start({}), EStartupOutcome::kExitFailure);
  EXPECT_EQ(m_rec.log.back(), "Shell 0") << "no OPC server for a program that is leaving";
}

TEST_F(Startup, ShutdownClosesEverythingInOrderSlaveBeforeMaster) {
  InitOpcServer(kPlexmarClsid, 250);
  auto tag = std::make_unique<CExchangeTag>("Shutdown.Var");
  m_app.AddTag(std::move(tag));
  ASSERT_EQ(serverkit::ListItems().size(), 1u);

  m_app.m_comm[1].hSlave = 11;
  m_app.m_comm[1].hMaster = 12;
  m_app.m_comm[4].hMaster = 7;
  m_app.m_comm[8].hSlave = 9;
  m_app.m_hTcpSlave = 8050;
  m_app.m_tcpMasters[0].hMaster = 30;
  m_app.m_tcpMasters[17].hMaster = 40;
  auto connected = std::make_unique<COpcServerLink>("", "Vendor.Server");
  connected->m_bConnected = 1;
  connected->m_hServer = 5;
  auto idle = std::make_unique<COpcServerLink>("host", "Other.Server");
  idle->m_hServer = 6;
  m_app.m_serverLinks.push_back(std::move(connected));
  m_app.m_serverLinks.push_back(std::move(idle));

  m_app.ExitInstance(m_framework, m_libraries);
  const std::vector<std::string> expected = {
      "CloseSlave 11",  "CloseMaster 12", "CloseMaster 7",
      "CloseSlave 9",   "CloseSlave 8050", "CloseMaster 30",
      "CloseMaster 40", "Disconnect 5",    "ShutdownOpcServer items=0",
      "SocketsCleanup", "ExitFramework",
  };
  EXPECT_EQ(m_rec.log, expected);
  EXPECT_TRUE(m_app.m_tags.empty());
  EXPECT_TRUE(m_app.m_serverLinks.empty());
  for (const CommPortSettings& port : m_app.m_comm) {
    EXPECT_EQ(port.hSlave, -1);
    EXPECT_EQ(port.hMaster, -1);
  }
  EXPECT_EQ(m_app.m_hTcpSlave, -1);
  for (const TcpMasterSlot& slot : m_app.m_tcpMasters) EXPECT_EQ(slot.hMaster, -1);

  // A second shutdown (after a failed start, say) closes nothing twice.
  m_rec.log.clear();
  m_app.ExitInstance(m_framework, m_libraries);
  EXPECT_EQ(m_rec.log, (std::vector<std::string>{"ShutdownOpcServer items=0", "SocketsCleanup",
                                                 "ExitFramework"}));
}

}  // namespace
