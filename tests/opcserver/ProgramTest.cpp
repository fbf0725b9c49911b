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
#include "tests/support/HeadlessProgram.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class OpcUaProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(testsupport::HeadlessProgram::Built()));
    ASSERT_TRUE(m_program.Prepare("plexmar-e2e-opcua"));
  }
  void Start(uint16_t opcPort) { m_program.StartWithEndpoint(opcPort); }
  std::string Log() const { return m_program.Log(); }
  testsupport::HeadlessProgram m_program;
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
  ASSERT_TRUE(ar.SaveToFile(m_program.Dir() / "plexmar.tst"));
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
