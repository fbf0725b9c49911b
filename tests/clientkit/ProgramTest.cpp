// An "OPC Point" through the real program: a headless plexmar whose project
// links a node-opcua server and has a tag following one of its variables.
// The value shows on Plexmar's own OPC UA endpoint (read by a node-opcua
// client) and, through a logic block, in a "LOCAL" register that a pymodbus
// master reads over Modbus/TCP. The server then goes away (the tag turns
// bad) and comes back (values flow again without anyone reconnecting).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "UaServerPeer.h"
#include "core/ExchangeTag.h"
#include "core/ProjectFile.h"
#include "logic/LogicBlock.h"
#include "logic/LogicBlockCsv.h"
#include "tests/opcserver/NodePeer.h"
#include "tests/projectfiles/PymodbusPeer.h"
#include "tests/support/FreePort.h"
#include "tests/support/HeadlessProgram.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr const char* kServerName = "Plexmar Test Server";

class OpcPointProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(testsupport::HeadlessProgram::Built())) GTEST_SKIP() << "plexmar is not built";
    if (!CUaServerPeer::Available()) GTEST_SKIP() << "node-opcua is not installed (scripts/setup-deps.sh)";
    if (std::system("/usr/bin/python3 -c 'import pymodbus' 2>/dev/null") != 0)
      GTEST_SKIP() << "pymodbus is not installed";
    ASSERT_TRUE(m_program.Prepare("plexmar-e2e-opcpoint"));
  }
  void Start(uint16_t opcPort) { m_program.StartWithEndpoint(opcPort); }
  std::string Log() const { return m_program.Log(); }

  // Tag `name` on Plexmar's endpoint as "<StatusCode> <DataType> <value>".
  std::string EndpointValue(const std::string& url, const std::string& name) {
    NodePeer reader({"read", url, name});
    std::istringstream line(reader.Expect("read "));
    std::string word, status, dataType, value;
    // read <name> <status> <DataType attr> <rank> <access> <source ms> <type> <value>
    line >> word >> word >> status >> word >> word >> word >> word >> dataType >> value;
    return status + " " + dataType + " " + value;
  }
  // Polls the endpoint until tag `name` reads `wanted` (or 40 s pass); the
  // last answer.
  std::string EndpointUntil(const std::string& url, const std::string& name, const std::string& wanted) {
    std::string last;
    const auto deadline = std::chrono::steady_clock::now() + 40s;
    while (std::chrono::steady_clock::now() < deadline) {
      last = EndpointValue(url, name);
      if (last.rfind(wanted, 0) == 0) break;
      std::this_thread::sleep_for(200ms);
    }
    return last;
  }

  testsupport::HeadlessProgram m_program;
};

// Holding register 5 of the slave ("LOCAL" address 5) once it reads `wanted`,
// or its last reading after 20 s.
std::string RegisterUntil(uint16_t modbus, int wanted) {
  return Pymodbus(modbus,
                  "v = None\n"
                  "for _ in range(200):\n"
                  "    r = unit(c.read_holding_registers, 4, count=1)\n"
                  "    v = None if r.isError() else r.registers[0]\n"
                  "    if v == " + std::to_string(wanted) + ": break\n"
                  "    time.sleep(0.1)\n"
                  "print('register', v)\n");
}

}  // namespace

TEST_F(OpcPointProgram, ServerValueReachesTheEndpointAndModbusAndFlowsAgainAfterTheServerReturns) {
  const uint16_t uaPort = testsupport::PickFreePort();
  auto server = std::make_unique<CUaServerPeer>(uaPort, kServerName);
  ASSERT_TRUE(server->Start());
  const std::string machine = "localhost:" + std::to_string(uaPort);

  // What Save All writes after the operator connected the server and made an
  // "OPC Point" tag of its Flow; its block scales it into a LOCAL register.
  const uint16_t modbus = testsupport::PickFreePort();
  const uint16_t endpoint = testsupport::PickFreePort();
  CProjectImage image;
  image.nTcpSlavePort = modbus;
  image.bTcpSlaveOpen = 1;
  image.links.push_back({machine, kServerName});
  auto ten = std::make_unique<CExchangeTag>("Ten");
  ten->m_value = CVariant(MakeVariantR8(10.0));
  image.tags.push_back(std::move(ten));
  auto flow = std::make_unique<CExchangeTag>("Flow");
  flow->m_nSourceKind = CExchangeTag::kSourceOpc;
  flow->m_strMachine = machine;
  flow->m_strServer = kServerName;
  flow->m_strItemId = "ns=1;s=Line1.Flow";
  flow->m_strLogicBlock = "Scale";
  image.tags.push_back(std::move(flow));
  auto out = std::make_unique<CExchangeTag>("Out");
  out->m_nSourceKind = CExchangeTag::kSourceLocal;
  out->m_nAddress = 5;
  image.tags.push_back(std::move(out));
  std::istringstream csv(",Out,=,Flow,*,Ten,\r\n");
  image.blocks.push_back(ParseLogicBlockCsv(csv, "Scale"));
  CArchive ar;
  image.Serialize(ar);
  ASSERT_TRUE(ar.SaveToFile(m_program.Dir() / "plexmar.tst"));
  Start(endpoint);
  const std::string url = "opc.tcp://127.0.0.1:" + std::to_string(endpoint);

  // The server's 7.5 from the load's read and refresh.
  EXPECT_EQ(RegisterUntil(modbus, 75), "register 75") << Log();
  EXPECT_EQ(EndpointUntil(url, "Flow", "Good Double 7.5"), "Good Double 7.5") << Log();

  // A change on the server arrives through the subscription.
  server->Send("set Flow 42.5");
  ASSERT_TRUE(server->WaitFor("OK set", 5000));
  EXPECT_EQ(RegisterUntil(modbus, 425), "register 425") << Log();
  EXPECT_EQ(EndpointUntil(url, "Flow", "Good Double 42.5"), "Good Double 42.5") << Log();

  // The server goes away: the tag turns bad on the endpoint rather than
  // keep its last value as good.
  server->Stop();
  const std::string lost = EndpointUntil(url, "Flow", "Bad");
  EXPECT_EQ(lost.rfind("Bad", 0), 0u) << lost << Log();

  // It comes back on the same port; the program reconnects by itself and
  // the next change flows to both sides.
  server = std::make_unique<CUaServerPeer>(uaPort, kServerName);
  ASSERT_TRUE(server->Start());
  EXPECT_EQ(EndpointUntil(url, "Flow", "Good Double 7.5"), "Good Double 7.5") << Log();
  server->Send("set Flow 99.5");
  ASSERT_TRUE(server->WaitFor("OK set", 5000));
  EXPECT_EQ(RegisterUntil(modbus, 995), "register 995") << Log();
  EXPECT_EQ(EndpointUntil(url, "Flow", "Good Double 99.5"), "Good Double 99.5") << Log();
}
