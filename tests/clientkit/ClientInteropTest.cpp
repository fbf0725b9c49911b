// The client toolkit against node-opcua servers that the tests start:
// discovery, connecting by name or URL, browsing, reading every mapped type,
// subscriptions, writes converted to the node's type, a server that goes away
// and comes back, and the faults a machine name can lead to.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <map>
#include <thread>

#include "UaServerPeer.h"
#include "clientkit/clientkit.h"
#include "tests/support/DispatchUntil.h"
#include "tests/support/FreePort.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Change {
  void* reference;
  CVariant value;
  uint32_t quality;
  Clock::time_point at;
};
std::vector<Change> g_changes;
int g_shutdowns = 0;

void OnData(int32_t, int32_t, void* reference, VARIANT* value, FILETIME, uint32_t quality) {
  g_changes.push_back({reference, CVariant(*value), quality, Clock::now()});
}
void OnShutdown(int32_t) { ++g_shutdowns; }

template <class Done>
bool PumpUntil(int ms, Done done) {
  return testsupport::DispatchUntil(ms, done);
}

std::string Machine(uint16_t port) { return "localhost:" + std::to_string(port); }

class ClientInterop : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!CUaServerPeer::Available()) return;
    s_port = testsupport::PickFreePort();
    s_server = new CUaServerPeer(s_port);
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
    g_changes.clear();
    g_shutdowns = 0;
  }
  void TearDown() override {
    for (int32_t server : m_servers) ClientDisconnectServer(server);
  }
  int32_t Connect(const std::string& machine, const std::string& server) {
    const int32_t handle = ClientConnectServer(machine.c_str(), server.c_str(), 0);
    if (handle != -1) {
      m_servers.push_back(handle);
      ClientSetDataCallback(handle, OnData);
      ClientSetShutdownCallback(handle, OnShutdown);
    }
    return handle;
  }

  static uint16_t s_port;
  static CUaServerPeer* s_server;
  std::vector<int32_t> m_servers;
};
uint16_t ClientInterop::s_port = 0;
CUaServerPeer* ClientInterop::s_server = nullptr;

std::vector<std::string> Names(int32_t server, int32_t kind) {
  std::vector<std::string> names;
  const int32_t n = ClientBrowseCount(server, kind);
  for (int32_t i = 0; i < n; ++i) {
    char name[200];
    if (ClientBrowseName(server, i, name, sizeof name)) names.push_back(name);
  }
  return names;
}

bool Has(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

TEST_F(ClientInterop, DiscoveryListsTheServerByItsApplicationNameWithEitherKind) {
  for (int32_t kind : {1, 0}) {
    ASSERT_EQ(ClientCountServers(kind, Machine(s_port).c_str()), 1) << "kind " << kind;
    char name[200];
    ClientGetServerName(0, name, sizeof name);
    EXPECT_STREQ(name, "Plexmar Test Server");
  }
  // By name after the listing, by name without one (as a project load does),
  // and by URL.
  ASSERT_NE(Connect(Machine(s_port), "Plexmar Test Server"), -1);
  ClientCountServers(1, "");
  EXPECT_NE(Connect(Machine(s_port), "Plexmar Test Server"), -1);
  EXPECT_NE(Connect("", "opc.tcp://127.0.0.1:" + std::to_string(s_port) + "/UA/Test"), -1);
  EXPECT_EQ(Connect(Machine(s_port), "No Such Server"), -1);
}

TEST_F(ClientInterop, BrowsingShowsFoldersWithChildrenAndGivesLeavesTheirNodeIds) {
  const int32_t server = Connect(Machine(s_port), "Plexmar Test Server");
  ASSERT_NE(server, -1);
  int32_t type = 0;
  ASSERT_TRUE(ClientGetNamespaceType(server, &type));
  EXPECT_EQ(type, 1);
  ASSERT_TRUE(ClientBrowseTo(server, ""));
  EXPECT_TRUE(Has(Names(server, 1), "Line1"));
  ASSERT_TRUE(ClientBrowseTo(server, "Line1"));
  const auto branches = Names(server, 1);
  EXPECT_TRUE(Has(branches, "Pump"));
  EXPECT_FALSE(Has(branches, "Empty")) << "a folder with nothing in it is no branch";
  const auto leaves = Names(server, 2);
  EXPECT_TRUE(Has(leaves, "Plant.Line1.Flow"));
  char id[200];
  ASSERT_TRUE(ClientGetItemId(server, "Plant.Line1.Flow", id, sizeof id));
  EXPECT_STREQ(id, "ns=1;s=Line1.Flow");
  char tiny[8];
  EXPECT_FALSE(ClientGetItemId(server, "Plant.Line1.Flow", tiny, sizeof tiny)) << "never a cut ID";
  ASSERT_TRUE(ClientBrowseTo(server, "Line1.Pump"));
  ASSERT_TRUE(ClientGetItemId(server, "Speed", id, sizeof id));
  EXPECT_STREQ(id, "ns=1;i=50001");
  EXPECT_FALSE(ClientBrowseTo(server, "Line1.Nowhere"));
}

TEST_F(ClientInterop, EveryTypeReadsIntoItsVariant) {
  const int32_t server = Connect(Machine(s_port), "Plexmar Test Server");
  ASSERT_NE(server, -1);
  int32_t a = 0, b = 0;
  const int32_t group = ClientAddGroup(server, "Group 1", &a, &b);
  ASSERT_NE(group, -1);
  auto read = [&](const std::string& name, uint32_t* quality = nullptr) {
    const int32_t item = ClientAddItem(server, group, ("ns=1;s=Line1." + name).c_str());
    EXPECT_NE(item, -1) << name;
    CVariant value;
    FILETIME stamp;
    uint32_t q = 0;
    EXPECT_TRUE(ClientReadItem(server, group, item, value.get(), &stamp, &q)) << name;
    if (quality) *quality = q;
    else EXPECT_EQ(q, 0xC0u) << name;
    return value;
  };
  EXPECT_EQ(read("Bool")->vt, VT_BOOL);
  EXPECT_EQ(read("Bool")->boolVal, VARIANT_TRUE);
  EXPECT_EQ(read("SByte")->cVal, -5);
  EXPECT_EQ(read("Byte")->bVal, 200);
  EXPECT_EQ(read("Int16")->iVal, -1234);
  EXPECT_EQ(read("UInt16")->uiVal, 60000);
  EXPECT_EQ(read("Int32")->lVal, -100000);
  EXPECT_EQ(read("UInt32")->ulVal, 4000000000u);
  CVariant i64 = read("Int64");
  EXPECT_EQ(i64->vt, VT_I8);
  EXPECT_EQ(i64->llVal, INT64_C(0x7fffffffffffffff));
  CVariant u64 = read("UInt64");
  EXPECT_EQ(u64->vt, VT_UI8);
  EXPECT_EQ(u64->ullVal, UINT64_C(0x0000000100000002));
  EXPECT_EQ(read("Float")->fltVal, 1.5f);
  EXPECT_EQ(read("Double")->dblVal, 2.25);
  CVariant text = read("String");
  ASSERT_EQ(text->vt, VT_BSTR);
  EXPECT_EQ(BstrToUtf8(text->bstrVal), "Grüße");
  CVariant date = read("DateTime");
  ASSERT_EQ(date->vt, VT_DATE);
  CVariant iso;
  ASSERT_EQ(VariantChangeType(iso.get(), date.get(), 0, VT_BSTR), S_OK);
  EXPECT_EQ(BstrToUtf8(iso->bstrVal), "2026-12-08T12:30:15.250Z");
  CVariant bytes = read("ByteString");
  ASSERT_EQ(bytes->vt, VT_ARRAY | VT_UI1);
  EXPECT_EQ(bytes->parray->rgsabound[0].cElements, 3u);
  EXPECT_EQ(static_cast<uint8_t*>(bytes->parray->pvData)[2], 255);
  CVariant localized = read("LocalizedText");
  ASSERT_EQ(localized->vt, VT_BSTR);
  EXPECT_EQ(BstrToUtf8(localized->bstrVal), "Pumpe an");
  CVariant array = read("DoubleArray");
  ASSERT_EQ(array->vt, VT_ARRAY | VT_R8);
  EXPECT_EQ(static_cast<double*>(array->parray->pvData)[2], 3.0);
  uint32_t quality = 0xC0;
  CVariant guid = read("Guid", &quality);
  EXPECT_EQ(guid->vt, VT_EMPTY);
  EXPECT_EQ(quality, 0u) << "a type with no VARIANT is bad";
  EXPECT_EQ(ClientAddItem(server, group, "ns=1;s=Line1.Missing"), -1);
  EXPECT_EQ(ClientAddItem(server, group, "Line1.Missing"), -1) << "plain text: a string id in namespace 1";
}

TEST_F(ClientInterop, SubscriptionsBringChangesWithinTwoPublishingIntervals) {
  const int32_t server = Connect(Machine(s_port), "Plexmar Test Server");
  ASSERT_NE(server, -1);
  int32_t a = 0, b = 0;
  const int32_t group = ClientAddGroup(server, "Group 1", &a, &b);
  const int32_t item = ClientAddItem(server, group, "ns=1;s=Line1.Ramp");
  int tag = 0;
  ASSERT_TRUE(ClientActivateItem(server, group, item, &tag));
  ASSERT_TRUE(PumpUntil(3000, [] { return g_changes.size() >= 8; }));
  for (const Change& c : g_changes) {
    EXPECT_EQ(c.reference, &tag);
    EXPECT_EQ(c.value->vt, VT_I4);
    EXPECT_EQ(c.quality, 0xC0u);
  }
  for (size_t i = 2; i < g_changes.size(); ++i)
    EXPECT_LE(g_changes[i].at - g_changes[i - 1].at, std::chrono::milliseconds(500 + 150)) << i;
  // Removed, it reaches nobody any more.
  ClientRemoveItem(server, group, item);
  PumpUntil(300, [] { return false; });
  g_changes.clear();
  PumpUntil(800, [] { return false; });
  EXPECT_TRUE(g_changes.empty());
}

TEST_F(ClientInterop, WritesAreConvertedToTheNodesTypeAndReachTheServer) {
  const int32_t server = Connect(Machine(s_port), "Plexmar Test Server");
  ASSERT_NE(server, -1);
  int32_t a = 0, b = 0;
  const int32_t group = ClientAddGroup(server, "Group 1", &a, &b);
  const int32_t item = ClientAddItem(server, group, "ns=1;s=Line1.Setpoint");
  ASSERT_NE(item, -1);
  VARIANT value = MakeVariantI2(42);  // a Double node takes an Int16 only as a Double
  ClientWriteItem(server, group, item, &value, 1);
  EXPECT_TRUE(s_server->WaitFor("WRITE 42", 5000));
  CVariant text(MakeVariantText("12.5"));
  ClientWriteItem(server, group, item, text.get(), 1);
  EXPECT_TRUE(s_server->WaitFor("WRITE 12.5", 5000));
  CVariant back;
  FILETIME stamp;
  uint32_t quality = 0;
  ASSERT_TRUE(ClientReadItem(server, group, item, back.get(), &stamp, &quality));
  EXPECT_EQ(back->dblVal, 12.5);
}

TEST_F(ClientInterop, TwoConnectsMakeTwoSessionsWithTheirOwnGroups) {
  const int32_t first = Connect(Machine(s_port), "Plexmar Test Server");
  const int32_t second = Connect(Machine(s_port), "Plexmar Test Server");
  ASSERT_NE(first, -1);
  ASSERT_NE(second, -1);
  EXPECT_NE(first, second);
  int32_t a = 0, b = 0;
  const int32_t g1 = ClientAddGroup(first, "Group 1", &a, &b);
  const int32_t g2 = ClientAddGroup(second, "Group 1", &a, &b);
  EXPECT_NE(g1, g2);
  EXPECT_EQ(ClientAddItem(first, g2, "ns=1;s=Line1.Ramp"), -1) << "a group of another server";
}

// Its own server, so the shared one stays up for the others.
TEST(ClientReconnect, AServerThatStopsTurnsItemsBadOnceAndValuesFlowAgainAfterItsReturn) {
  if (!CUaServerPeer::Available()) GTEST_SKIP() << "node-opcua is not installed";
  const uint16_t port = testsupport::PickFreePort();
  auto server = std::make_unique<CUaServerPeer>(port);
  ASSERT_TRUE(server->Start());
  g_changes.clear();
  g_shutdowns = 0;
  const int32_t handle = ClientConnectServer(Machine(port).c_str(), "Plexmar Test Server", 0);
  ASSERT_NE(handle, -1);
  ClientSetDataCallback(handle, OnData);
  ClientSetShutdownCallback(handle, OnShutdown);
  int32_t a = 0, b = 0;
  const int32_t group = ClientAddGroup(handle, "Group 1", &a, &b);
  const int32_t item = ClientAddItem(handle, group, "ns=1;s=Line1.Ramp");
  int tag = 0;
  ASSERT_TRUE(ClientActivateItem(handle, group, item, &tag));
  ASSERT_TRUE(PumpUntil(3000, [] { return !g_changes.empty(); }));

  server->Stop();
  ASSERT_TRUE(PumpUntil(15000, [] { return g_shutdowns > 0; }));
  size_t bad = 0;
  for (const Change& c : g_changes) bad += c.quality == 0 && c.value->vt == VT_EMPTY;
  EXPECT_EQ(bad, 1u) << "once, not again and again";
  CVariant ignored;
  FILETIME stamp;
  uint32_t quality = 0;
  const auto before = Clock::now();
  EXPECT_FALSE(ClientReadItem(handle, group, item, ignored.get(), &stamp, &quality));
  EXPECT_LT(Clock::now() - before, std::chrono::milliseconds(500)) << "no waiting while the server is away";

  server = std::make_unique<CUaServerPeer>(port);
  ASSERT_TRUE(server->Start());
  g_changes.clear();
  EXPECT_TRUE(PumpUntil(40000, [] { return !g_changes.empty() && g_changes.back().quality == 0xC0; }))
      << "values flow again without the operator";
  ClientDisconnectServer(handle);
}

TEST(ClientFaults, UnreachableSilentAndGarbageServersFailWithinTheTimeOut) {
  // Nobody listens.
  const uint16_t closed = testsupport::PickFreePort();
  auto start = Clock::now();
  EXPECT_EQ(ClientCountServers(1, Machine(closed).c_str()), 0);
  EXPECT_EQ(ClientConnectServer(Machine(closed).c_str(), "X", 0), -1);
  EXPECT_EQ(ClientConnectServer("", ("opc.tcp://127.0.0.1:" + std::to_string(closed)).c_str(), 0), -1);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  // A name that does not resolve.
  EXPECT_EQ(ClientCountServers(0, "no-such-host.invalid"), 0);
  EXPECT_EQ(ClientConnectServer("", "opc.tcp://no-such-host.invalid:4841", 0), -1);

  // Accepts and never answers; then one that answers with garbage.
  for (bool garbage : {false, true}) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::listen(listener, 4);
    socklen_t len = sizeof addr;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    const uint16_t port = ntohs(addr.sin_port);
    std::atomic<bool> stop{false};
    std::thread peer([&] {
      std::vector<int> clients;
      while (!stop) {
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) {
          const int c = ::accept(listener, nullptr, nullptr);
          if (c >= 0 && garbage) {
            const char junk[] = "ACKF\xff\xff\xff\x7fthis is not OPC UA at all.....";
            (void)!::write(c, junk, sizeof junk);
          }
          if (c >= 0) clients.push_back(c);
        }
      }
      for (int c : clients) ::close(c);
    });
    start = Clock::now();
    EXPECT_EQ(ClientCountServers(1, Machine(port).c_str()), 0);
    EXPECT_EQ(ClientConnectServer("", ("opc.tcp://127.0.0.1:" + std::to_string(port)).c_str(), 0), -1);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10)) << (garbage ? "garbage" : "silent");
    stop = true;
    peer.join();
    ::close(listener);
  }
}
