// The project file with the real program and real peers: a headless plexmar
// started beside a project re-opens its serial master (on a pseudo-terminal)
// and its Modbus/TCP slave without a dialog, and the demo project generated
// from its description gives a working exchange to a pymodbus master.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "core/ExchangeTag.h"
#include "core/ProjectFile.h"
#include "tests/projectfiles/PymodbusPeer.h"
#include "tests/support/FreePort.h"
#include "tests/support/HeadlessProgram.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class ProjectProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(testsupport::HeadlessProgram::Built())) GTEST_SKIP() << "plexmar is not built";
    if (!fs::exists("/usr/bin/python3") || std::system("/usr/bin/python3 -c 'import pymodbus' 2>/dev/null") != 0)
      GTEST_SKIP() << "pymodbus is not installed";
    ASSERT_TRUE(m_program.Prepare("plexmar-e2e-project"));
  }
  void Start(const testsupport::HeadlessProgram::Environment& env) { m_program.Start(env); }
  void Stop() { m_program.Stop(); }
  std::string Log() const { return m_program.Log(); }
  void WriteProject(CProjectImage& image) {
    CArchive ar;
    image.Serialize(ar);
    ASSERT_TRUE(ar.SaveToFile(m_program.Dir() / "plexmar.tst"));
  }

  testsupport::HeadlessProgram m_program;
};

}  // namespace

TEST_F(ProjectProgram, SerialMasterAndTcpSlaveComeBackWithoutADialog) {
  int master = -1;
  int slave = -1;
  char name[256] = {};
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  termios raw{};
  tcgetattr(master, &raw);
  cfmakeraw(&raw);
  tcsetattr(master, TCSANOW, &raw);
  const uint16_t port = testsupport::PickFreePort();
  ASSERT_NE(port, 0);

  // What Save All writes while COMM3 is open as master and the Modbus/TCP
  // slave serves: the open flags, the settings and the tags.
  CProjectImage image;
  image.comm[2].nBaudRate = 19200;
  image.commOpen[2].bMaster = 1;
  image.nTcpSlavePort = port;
  image.bTcpSlaveOpen = 1;
  auto remote = std::make_unique<CExchangeTag>("Remote");
  remote->m_nSourceKind = CExchangeTag::kSourceComm;
  remote->m_nCommPort = 3;
  remote->m_nSlaveId = 7;
  remote->m_nAddress = 40;
  image.tags.push_back(std::move(remote));
  auto local = std::make_unique<CExchangeTag>("Local");
  local->m_nSourceKind = CExchangeTag::kSourceLocal;
  local->m_nAddress = 5;
  image.tags.push_back(std::move(local));
  WriteProject(image);

  Start({{"PLEXMAR_COM3", name}});
  // The poll of the COMM3 tag's block arrives on the line: slave 7,
  // function 3, address 39.
  std::string received;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (received.size() < 8 && std::chrono::steady_clock::now() < deadline) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 100) > 0) {
      char buffer[64];
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n > 0) received.append(buffer, static_cast<size_t>(n));
    }
  }
  ASSERT_GE(received.size(), 8u) << "no poll on COMM3\n" << Log();
  EXPECT_EQ(static_cast<uint8_t>(received[0]), 7);
  EXPECT_EQ(static_cast<uint8_t>(received[1]), 3);
  EXPECT_EQ(static_cast<uint8_t>(received[3]), 39);

  // The slave serves its LOCAL block to a master we did not write.
  EXPECT_EQ(Pymodbus(port,
                     "unit(c.write_register, 4, 1234)\n"
                     "r = unit(c.read_holding_registers, 4, count=1)\n"
                     "print('value', r.registers[0])\n"),
            "value 1234")
      << Log();
  Stop();
  close(master);
  close(slave);
}

TEST_F(ProjectProgram, DemoProjectGivesAWorkingExchange) {
  const fs::path generator = fs::path(PLEXMAR_BINARY_DIR) / "demo" / "plexmar_demo";
  if (!fs::exists(generator)) GTEST_SKIP() << "plexmar_demo is not built";
  const std::string command = generator.string() + " " PLEXMAR_SOURCE_DIR "/demo/demo-project.txt " +
                              (m_program.Dir() / "demo.tst").string() + " > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  CArchive read = CArchive::FromFile(m_program.Dir() / "demo.tst");
  CProjectImage demo;
  std::string error;
  ASSERT_TRUE(ParseProject(read.Bytes(), demo, error)) << error;
  ASSERT_EQ(demo.bTcpSlaveOpen, 1);
  ASSERT_EQ(demo.blocks.size(), 3u);
  // The operator form is written beside the project and listed by its path.
  ASSERT_EQ(demo.forms, (std::vector<std::string>{(m_program.Dir() / "Overview").string()}));
  ASSERT_TRUE(fs::exists(m_program.Dir() / "Overview"));

  // Served on the demo's own port unless a test beside us holds it: then on
  // a free one, the project otherwise as generated.
  const uint16_t port = testsupport::PickFreePort();
  demo.nTcpSlavePort = port;
  WriteProject(demo);
  Start({});
  // Demo.Scaled = Demo.Raw * Demo.Gain + Demo.Offset, computed by the logic
  // block on the tick after the write.
  EXPECT_EQ(Pymodbus(port,
                     "unit(c.write_register, 0, 5)\n"
                     "v = None\n"
                     "for _ in range(40):\n"
                     "    time.sleep(0.1)\n"
                     "    v = unit(c.read_holding_registers, 0, count=2).registers\n"
                     "    if v[1] == 20: break\n"
                     "print('registers', v[0], v[1])\n"),
            "registers 5 20")
      << Log();
}
