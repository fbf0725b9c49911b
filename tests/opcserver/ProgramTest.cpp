// The OPC UA endpoint of the real program: a headless plexmar with
// PLEXMAR_OPCUA_PORT set, a pymodbus master on its Modbus/TCP slave and a
// node-opcua client on its endpoint, one value carried each way.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/ExchangeTag.h"
#include "core/ProjectFile.h"
#include "tests/opcserver/NodePeer.h"
#include "tests/projectfiles/PymodbusPeer.h"
#include "tests/support/FreePort.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class OpcUaProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path built = fs::path(PLEXMAR_BINARY_DIR) / "plexmar";
    ASSERT_TRUE(fs::exists(built));
    char pattern[] = "/tmp/plexmar-e2e-opcua-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_dir = pattern;
    m_binary = m_dir / "plexmar";
    fs::copy_file(built, m_binary);
  }
  void TearDown() override {
    if (m_pid > 0) {
      kill(m_pid, SIGTERM);
      int status = 0;
      for (int i = 0; i < 100 && waitpid(m_pid, &status, WNOHANG) == 0; ++i) std::this_thread::sleep_for(50ms);
      if (waitpid(m_pid, &status, WNOHANG) == 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
      }
    }
    if (!m_dir.empty()) fs::remove_all(m_dir);
  }
  void Start(uint16_t opcPort) {
    m_pid = fork();
    if (m_pid == 0) {
      const int log = open((m_dir / "stderr.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      dup2(log, 2);
      const int devnull = open("/dev/null", O_RDWR);
      dup2(devnull, 0);
      dup2(devnull, 1);
      unsetenv("DISPLAY");
      unsetenv("WAYLAND_DISPLAY");
      unsetenv("QT_QPA_PLATFORM");
      setenv("HOME", m_dir.c_str(), 1);
      setenv("XDG_RUNTIME_DIR", m_dir.c_str(), 1);
      setenv("PLEXMAR_OPCUA_PORT", std::to_string(opcPort).c_str(), 1);
      setenv("PLEXMAR_OPCUA_BIND", "127.0.0.1", 1);
      if (chdir(m_dir.c_str()) != 0) _exit(126);
      execl(m_binary.c_str(), m_binary.c_str(), nullptr);
      _exit(127);
    }
  }
  std::string Log() const {
    std::ifstream in(m_dir / "stderr.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  fs::path m_dir;
  fs::path m_binary;
  pid_t m_pid = -1;
};

}  // namespace

TEST_F(OpcUaProgram, ModbusWritesReachOpcUaAndOpcUaWritesReachModbus) {
  const uint16_t modbus = testsupport::PickFreePort();
  const uint16_t opc = testsupport::PickFreePort();
  CProjectImage image;
  image.nTcpSlavePort = modbus;
  image.bTcpSlaveOpen = 1;
  auto local = std::make_unique<CExchangeTag>("Local");
  local->m_nSourceKind = CExchangeTag::kSourceLocal;
  local->m_nAddress = 5;
  image.tags.push_back(std::move(local));
  CArchive ar;
  image.Serialize(ar);
  ASSERT_TRUE(ar.SaveToFile(m_dir / "plexmar.tst"));
  Start(opc);
  const std::string url = "opc.tcp://127.0.0.1:" + std::to_string(opc);

  // The endpoint is up once the slave serves.
  ASSERT_EQ(Pymodbus(modbus, "print('value', unit(c.read_holding_registers, 4, count=1).registers[0])\n"), "value 0")
      << Log();
  NodePeer watcher({"subscribe", url, "Local", "250"});
  ASSERT_EQ(watcher.Expect("initial "), "initial 0") << Log();
  ASSERT_EQ(watcher.Expect("ready"), "ready");
  ASSERT_EQ(Pymodbus(modbus, "unit(c.write_register, 4, 1234)\nprint('done')\n"), "done");
  const std::string changed = watcher.Expect("changed ");
  EXPECT_EQ(changed.substr(0, 13), "changed 1234 ") << changed << Log();

  NodePeer writer({"write", url, "Local", "Int16", "777"});
  EXPECT_EQ(writer.Expect("write "), "write Local Good Good Int16 777") << Log();
  EXPECT_EQ(Pymodbus(modbus,
                     "v = None\n"
                     "for _ in range(40):\n"
                     "    v = unit(c.read_holding_registers, 4, count=1).registers[0]\n"
                     "    if v == 777: break\n"
                     "    time.sleep(0.1)\n"
                     "print('value', v)\n"),
            "value 777")
      << Log();
}
