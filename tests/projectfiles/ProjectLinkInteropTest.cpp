// A project that stores an OPC server link, saved and loaded with the real
// client toolkit against a node-opcua server: the load connects the link
// again, binds the "OPC Point" tags to it and refreshes the group, so that
// their logic runs without a change on the server; a second load replaces
// the link instead of adding one; a saved server that is gone fails with the
// connect step's message and leaves its tag bad.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "clientkit/clientkit.h"
#include "connections/OpcConnections.h"
#include "connections/OpcServerLink.h"
#include "core/AppFramework.h"
#include "core/ExchangeTag.h"
#include "core/HostUi.h"
#include "core/MainFrameCore.h"
#include "core/PlexmarApp.h"
#include "core/ProjectFile.h"
#include "logic/LogicBlock.h"
#include "logic/LogicBlockCsv.h"
#include "tests/clientkit/UaServerPeer.h"
#include "tests/support/DispatchUntil.h"
#include "tests/support/FreePort.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kServerName = "Plexmar Test Server";

class Host : public IHostUi {
 public:
  void MessageBox(const std::string& text) override { messages.push_back(text); }
  int ShowForm(const std::string&) override { return 0; }
  int HideForm(const std::string&) override { return 0; }
  std::vector<std::string> messages;
};

template <class Done>
bool PumpUntil(int ms, Done done) {
  return testsupport::DispatchUntil(ms, done);
}

// The program's data change function, counting what reaches it.
int g_delivered = 0;
void CountingDataChange(int32_t server, int32_t group, void* reference, VARIANT* value, FILETIME stamp,
                        uint32_t quality) {
  ++g_delivered;
  OnClientDataChange(server, group, reference, value, stamp, quality);
}

double Number(const CExchangeTag* tag) {
  if (tag == nullptr) return -1;
  CVariant r8;
  if (VariantChangeType(r8.get(), tag->m_value.get(), 0, VT_R8) != S_OK) return -1;
  return r8->dblVal;
}

class ProjectLink : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!CUaServerPeer::Available()) return;
    s_server = new CUaServerPeer(testsupport::PickFreePort(), kServerName);
    if (!s_server->Start()) {
      delete s_server;
      s_server = nullptr;
    }
  }
  static void TearDownTestSuite() {
    delete s_server;
    s_server = nullptr;
  }
  void SetUp() override {
    if (s_server == nullptr) GTEST_SKIP() << "node-opcua is not installed (scripts/setup-deps.sh)";
    dir = fs::temp_directory_path() / ("plexmar-project-link-" + std::to_string(getpid()));
    fs::create_directories(dir);
    machine = "localhost:" + std::to_string(s_server->Port());
  }
  void TearDown() override {
    if (!dir.empty()) fs::remove_all(dir);
  }
  std::string Path(const std::string& name) const { return (dir / name).string(); }

  // What the operator builds and saves: a link to `server`, the tag Flow
  // following its Line1.Flow, and the block Scale computing Out = Flow * Ten.
  void SaveWithLink(const std::string& path, const std::string& server) {
    CPlexmarApp source;
    Host quiet;
    source.SetHostUi(&quiet);
    CMainFrameCore frame{source, [] {}};
    if (server == kServerName) {
      ASSERT_TRUE(opcconn::ConnectServer(source, machine, server));
    } else {
      // A link once made to a server that is not there now.
      source.m_serverLinks.push_back(std::make_unique<COpcServerLink>(machine, server));
    }
    auto ten = std::make_unique<CExchangeTag>("Ten");
    ten->m_value = CVariant(MakeVariantR8(10.0));
    source.AddTag(std::move(ten));
    source.AddTag(std::make_unique<CExchangeTag>("Out"));
    auto flow = std::make_unique<CExchangeTag>("Flow");
    flow->m_nSourceKind = CExchangeTag::kSourceOpc;
    flow->m_strMachine = machine;
    flow->m_strServer = server;
    flow->m_strItemId = "ns=1;s=Line1.Flow";
    flow->m_strLogicBlock = "Scale";
    source.AddTag(std::move(flow));
    std::istringstream csv(",Out,=,Flow,*,Ten,\r\n");
    source.AddLogicBlock(ParseLogicBlockCsv(csv, "Scale"));
    CProjectContext context{source, frame, nullptr, LinkedLibraries()};
    ASSERT_TRUE(SaveProject(context, path));
    opcconn::DisconnectServerLinks(source);
    source.SetHostUi(nullptr);
  }

  static CUaServerPeer* s_server;
  fs::path dir;
  std::string machine;
};
CUaServerPeer* ProjectLink::s_server = nullptr;

}  // namespace

TEST_F(ProjectLink, LoadConnectsTheLinkAgainAndRefreshesItsGroup) {
  s_server->Send("set Flow 7.5");
  ASSERT_TRUE(s_server->WaitFor("OK set", 5000));
  SaveWithLink(Path("linked.tst"), kServerName);

  CPlexmarApp app;
  Host host;
  app.SetHostUi(&host);
  CMainFrameCore frame{app, [] {}};
  CProjectContext context{app, frame, nullptr, LinkedLibraries()};
  ASSERT_TRUE(LoadProject(context, Path("linked.tst")));
  EXPECT_TRUE(host.messages.empty());
  ASSERT_EQ(app.m_serverLinks.size(), 1u);
  const COpcServerLink& link = *app.m_serverLinks[0];
  EXPECT_EQ(link.m_strMachine, machine);
  EXPECT_EQ(link.m_strServer, kServerName);
  EXPECT_EQ(link.m_bConnected, 1);
  EXPECT_NE(link.m_hGroup, -1);
  CExchangeTag* flow = app.FindTag("Flow");
  ASSERT_NE(flow, nullptr);
  EXPECT_NE(flow->m_hClientItem, -1);
  EXPECT_EQ(flow->m_nQuality, 0xC0u);
  EXPECT_EQ(Number(flow), 7.5);

  // Nothing changed on the server, yet the refresh brings the value once
  // more as a change, beside the monitored item's first value, and the block
  // computes its output.
  g_delivered = 0;
  ClientSetDataCallback(link.m_hServer, CountingDataChange);
  EXPECT_TRUE(PumpUntil(5000, [&] { return Number(app.FindTag("Out")) == 75; })) << Number(app.FindTag("Out"));
  PumpUntil(1500, [] { return g_delivered >= 2; });
  EXPECT_EQ(g_delivered, 2) << "the refresh's read and the monitored item's first value";
  // The subscription goes on from there.
  s_server->Send("set Flow 42.5");
  EXPECT_TRUE(PumpUntil(5000, [&] { return Number(app.FindTag("Out")) == 425; })) << Number(app.FindTag("Out"));

  // Loaded again, the old link makes way for the new one.
  const int32_t before = app.m_serverLinks[0]->m_hServer;
  ASSERT_TRUE(LoadProject(context, Path("linked.tst")));
  ASSERT_EQ(app.m_serverLinks.size(), 1u);
  EXPECT_NE(app.m_serverLinks[0]->m_hServer, before);
  EXPECT_TRUE(PumpUntil(5000, [&] { return Number(app.FindTag("Out")) == 425; })) << Number(app.FindTag("Out"));
  s_server->Send("set Flow 11.5");
  EXPECT_TRUE(PumpUntil(5000, [&] { return Number(app.FindTag("Out")) == 115; })) << Number(app.FindTag("Out"));
  opcconn::DisconnectServerLinks(app);
  app.SetHostUi(nullptr);
}

TEST_F(ProjectLink, ASavedServerThatIsGoneFailsWithTheConnectMessageAndItsTagStaysBad) {
  SaveWithLink(Path("gone.tst"), "Retired Server");
  CPlexmarApp app;
  Host host;
  app.SetHostUi(&host);
  CMainFrameCore frame{app, [] {}};
  CProjectContext context{app, frame, nullptr, LinkedLibraries()};
  ASSERT_TRUE(LoadProject(context, Path("gone.tst")));
  EXPECT_EQ(host.messages, (std::vector<std::string>{"Connection Failed"}));
  EXPECT_TRUE(app.m_serverLinks.empty());
  CExchangeTag* flow = app.FindTag("Flow");
  ASSERT_NE(flow, nullptr);
  EXPECT_EQ(flow->m_hClientItem, -1);
  EXPECT_EQ(flow->m_nQuality, 0u);
  app.SetHostUi(nullptr);
}
