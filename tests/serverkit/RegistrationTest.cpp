// Registration of the OPC server in a throw-away home folder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "serverkit/serverkit.h"

namespace fs = std::filesystem;

namespace {

std::string Slurp(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/plexmar-reg-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_home = pattern;
    setenv("HOME", m_home.c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_CONFIG_HOME");
  }
  void TearDown() override { fs::remove_all(m_home); }
  fs::path m_home;
};

TEST_F(Registration, RecordLandsUnderTheDataFolderAndReadsBack) {
  RegisterOpcServer(kPlexmarClsid, kPlexmarProgId, kPlexmarDescription, "/opt/plexmar/bin/plexmar");
  const fs::path record = m_home / ".local/share/plexmar/opc-servers/Norvell.Plexmar_Server.server";
  EXPECT_EQ(serverkit::RegistrationRecordPath(kPlexmarProgId), record.string());
  ASSERT_TRUE(fs::exists(record));
  const std::string text = Slurp(record);
  EXPECT_NE(text.find(std::string("CLSID=") + kPlexmarClsid + "\n"), std::string::npos);
  EXPECT_NE(text.find("ProgID=Norvell.Plexmar_Server\n"), std::string::npos);
  EXPECT_NE(text.find("Description=Norvell Software Plexmar Server\n"), std::string::npos);
  EXPECT_NE(text.find("Executable=/opt/plexmar/bin/plexmar\n"), std::string::npos);

  serverkit::Registration r;
  ASSERT_TRUE(serverkit::ReadRegistration(kPlexmarProgId, r));
  EXPECT_EQ(r.clsid, kPlexmarClsid);
  EXPECT_EQ(r.executable, "/opt/plexmar/bin/plexmar");

  // Registering again (every start does) replaces the record in place.
  RegisterOpcServer(kPlexmarClsid, kPlexmarProgId, kPlexmarDescription, "/usr/bin/plexmar");
  ASSERT_TRUE(serverkit::ReadRegistration(kPlexmarProgId, r));
  EXPECT_EQ(r.executable, "/usr/bin/plexmar");
  EXPECT_EQ(std::distance(fs::directory_iterator(record.parent_path()), fs::directory_iterator()), 1)
      << "no temporary files left behind";

  UnregisterOpcServer(kPlexmarClsid, kPlexmarProgId);
  EXPECT_FALSE(fs::exists(record));
  EXPECT_FALSE(serverkit::ReadRegistration(kPlexmarProgId, r));
  // Unregistering what is not registered is not an error.
  EXPECT_TRUE(serverkit::RemoveRegistration(kPlexmarClsid, kPlexmarProgId));
}

TEST_F(Registration, XdgVariablesWinWhenAbsolute) {
  const fs::path data = m_home / "data";
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  EXPECT_EQ(serverkit::RegistrationRecordPath("A.B"), (data / "plexmar/opc-servers/A.B.server").string());
  setenv("XDG_DATA_HOME", "relative/folder", 1);
  EXPECT_EQ(serverkit::RegistrationRecordPath("A.B"),
            (m_home / ".local/share/plexmar/opc-servers/A.B.server").string());
  setenv("XDG_CONFIG_HOME", (m_home / "cfg").c_str(), 1);
  EXPECT_EQ(serverkit::ServiceUnitPath(), (m_home / "cfg/systemd/user/plexmar.service").string());
}

TEST_F(Registration, HostileNamesAndValuesWriteNothing) {
  for (const char* progId : {"../../escape", "a/b", "..", "", "with space"}) {
    EXPECT_TRUE(serverkit::RegistrationRecordPath(progId).empty()) << progId;
    EXPECT_FALSE(serverkit::WriteRegistration(kPlexmarClsid, progId, "d", "/bin/x")) << progId;
  }
  EXPECT_FALSE(serverkit::WriteRegistration(kPlexmarClsid, nullptr, "d", "/bin/x"));
  // A line break would let a value forge keys of its own.
  EXPECT_FALSE(serverkit::WriteRegistration(kPlexmarClsid, "Ok.Id", "d\nExecutable=/evil", "/bin/x"));
  EXPECT_FALSE(serverkit::WriteRegistration(kPlexmarClsid, "Ok.Id", "d", ""));
  EXPECT_FALSE(fs::exists(m_home / ".local"));
  EXPECT_FALSE(fs::exists(m_home.parent_path() / "escape.server"));
}

TEST_F(Registration, AnotherServersRecordUnderTheSameProgIdIsKept) {
  ASSERT_TRUE(serverkit::WriteRegistration("{00000000-0000-0000-0000-000000000001}", "Shared.Id",
                                           "someone else", "/bin/other"));
  EXPECT_FALSE(serverkit::RemoveRegistration(kPlexmarClsid, "Shared.Id"));
  serverkit::Registration r;
  ASSERT_TRUE(serverkit::ReadRegistration("Shared.Id", r));
  // Class identifiers are compared ignoring letter case, as COM does.
  EXPECT_TRUE(serverkit::RemoveRegistration("{00000000-0000-0000-0000-000000000001}", "Shared.Id"));
  EXPECT_FALSE(serverkit::ReadRegistration("Shared.Id", r));
}

TEST_F(Registration, ServiceUnitRunsTheRegisteredProgramHeadless) {
  // Without a registration there is nothing to run.
  EXPECT_FALSE(serverkit::InstallServiceUnit(kPlexmarProgId));

  const std::string exe = "/opt/Plant 50%/bin/plex\"mar$";
  RegisterOpcServer(kPlexmarClsid, kPlexmarProgId, kPlexmarDescription, exe.c_str());
  RegisterOpcServerService(kPlexmarProgId);
  const fs::path unit = m_home / ".config/systemd/user/plexmar.service";
  ASSERT_TRUE(fs::exists(unit));
  const std::string text = Slurp(unit);
  EXPECT_NE(text.find("[Service]\n"), std::string::npos);
  EXPECT_NE(text.find("Environment=QT_QPA_PLATFORM=offscreen\n"), std::string::npos);
  EXPECT_NE(text.find("ExecStart=\"/opt/Plant 50%%/bin/plex\\\"mar$$\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Description=Norvell Software Plexmar Server\n"), std::string::npos);
  EXPECT_NE(text.find("WantedBy=default.target\n"), std::string::npos);

  // Enabled by the operator, then unregistered: unit and link go with the record.
  const fs::path wants = unit.parent_path() / "default.target.wants";
  fs::create_directories(wants);
  fs::create_symlink(unit, wants / "plexmar.service");
  UnregisterOpcServer(kPlexmarClsid, kPlexmarProgId);
  EXPECT_FALSE(fs::exists(unit));
  EXPECT_FALSE(fs::is_symlink(wants / "plexmar.service"));
}

TEST_F(Registration, UnrelatedUnitWithTheSameNameSurvivesUnregistering) {
  const fs::path unit = m_home / ".config/systemd/user/plexmar.service";
  fs::create_directories(unit.parent_path());
  std::ofstream(unit) << "[Unit]\nDescription=hand-made\n";
  RegisterOpcServer(kPlexmarClsid, kPlexmarProgId, kPlexmarDescription, "/bin/plexmar");
  UnregisterOpcServer(kPlexmarClsid, kPlexmarProgId);
  EXPECT_TRUE(fs::exists(unit));
}

}  // namespace

TEST_F(Registration, RecordNamesTheOpcUaEndpointWhileItIsOn) {
  setenv("PLEXMAR_OPCUA_PORT", "4999", 1);
  ASSERT_TRUE(serverkit::WriteRegistration(kPlexmarClsid, kPlexmarProgId, kPlexmarDescription, "/x/plexmar"));
  serverkit::Registration r;
  ASSERT_TRUE(serverkit::ReadRegistration(kPlexmarProgId, r));
  EXPECT_EQ(r.endpoint.rfind("opc.tcp://", 0), 0u);
  EXPECT_EQ(r.endpoint.substr(r.endpoint.size() - 5), ":4999");
  setenv("PLEXMAR_OPCUA_PORT", "0", 1);
  ASSERT_TRUE(serverkit::WriteRegistration(kPlexmarClsid, kPlexmarProgId, kPlexmarDescription, "/x/plexmar"));
  ASSERT_TRUE(serverkit::ReadRegistration(kPlexmarProgId, r));
  EXPECT_EQ(r.endpoint, "");
  setenv("PLEXMAR_OPCUA_PORT", "forty", 1);
  uint16_t port = 1;
  EXPECT_FALSE(serverkit::OpcEndpointPort(port));
  EXPECT_EQ(serverkit::ConfiguredOpcEndpointUrl(), "");
  setenv("PLEXMAR_OPCUA_PORT", "0", 1);
}
