// The client toolkit against the program's own OPC UA endpoint, started on a
// port of its own over the item table: discovery names it, tags of every
// type read into their VARIANTs, changes arrive through the subscription,
// writes are converted to the tag's type and reach the program's write
// callback, and a server registered on this machine is listed for the
// machine "" and reached by its name.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "clientkit/clientkit.h"
#include "serverkit/serverkit.h"
#include "tests/support/DispatchUntil.h"
#include "tests/support/FreePort.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kOwnName = "Norvell Software Plexmar Server";

struct Change {
  void* reference;
  CVariant value;
  uint32_t quality;
};
std::vector<Change> g_changes;
void OnData(int32_t, int32_t, void* reference, VARIANT* value, FILETIME, uint32_t quality) {
  g_changes.push_back({reference, CVariant(*value), quality});
}

// The program's side of a write: the value as it arrived, then taken into
// the item as the tag's write does.
std::mutex g_writesMutex;
std::vector<std::pair<std::string, CVariant>> g_writes;
void TakeWrite(int32_t handle, VARIANT* value, HRESULT* /*result*/) {
  serverkit::ItemState item;
  serverkit::ReadItem(handle, item);
  {
    std::lock_guard<std::mutex> lock(g_writesMutex);
    g_writes.emplace_back(item.name, CVariant(*value));
  }
  UpdateServerTag(handle, *value, 0xC0);
}

template <class Done>
bool PumpUntil(int ms, Done done) {
  return testsupport::DispatchUntil(ms, done);
}

class OwnEndpoint : public ::testing::Test {
 protected:
  // Starts the toolkit's endpoint as the program does, on a free port;
  // `loopbackOnly` binds it to 127.0.0.1.
  void StartEndpoint(bool loopbackOnly) {
    m_port = testsupport::PickFreePort();
    ASSERT_NE(m_port, 0);
    setenv("PLEXMAR_OPCUA_PORT", std::to_string(m_port).c_str(), 1);
    if (loopbackOnly) setenv("PLEXMAR_OPCUA_BIND", "127.0.0.1", 1);
    else unsetenv("PLEXMAR_OPCUA_BIND");
    InitOpcServer(kPlexmarClsid, 250);
    SetWriteCallback(TakeWrite, 1);
    ASSERT_FALSE(serverkit::OpcEndpointUrl().empty()) << "the endpoint did not start";
    g_changes.clear();
    std::lock_guard<std::mutex> lock(g_writesMutex);
    g_writes.clear();
  }
  void TearDown() override {
    for (int32_t server : m_servers) ClientDisconnectServer(server);
    ShutdownOpcServer();
    setenv("PLEXMAR_OPCUA_PORT", "0", 1);
    unsetenv("PLEXMAR_OPCUA_BIND");
  }
  int32_t Connect(const std::string& machine, const std::string& server) {
    const int32_t handle = ClientConnectServer(machine.c_str(), server.c_str(), 0);
    if (handle != -1) {
      m_servers.push_back(handle);
      ClientSetDataCallback(handle, OnData);
    }
    return handle;
  }
  std::string Machine() const { return "127.0.0.1:" + std::to_string(m_port); }
  // A group holding `item` of `server`, read once.
  CVariant Read(int32_t server, int32_t group, int32_t item, uint32_t* quality = nullptr) {
    CVariant value;
    FILETIME stamp;
    uint32_t q = 0xFFFF;
    EXPECT_TRUE(ClientReadItem(server, group, item, value.get(), &stamp, &q));
    if (quality) *quality = q;
    return value;
  }

  uint16_t m_port = 0;
  std::vector<int32_t> m_servers;
};

std::vector<CVariant> Writes(const std::string& name) {
  std::lock_guard<std::mutex> lock(g_writesMutex);
  std::vector<CVariant> out;
  for (const auto& [n, v] : g_writes)
    if (n == name) out.push_back(v);
  return out;
}

}  // namespace

TEST_F(OwnEndpoint, DiscoveryNamesItAndEveryTagReadsIntoItsVariant) {
  StartEndpoint(true);
  CreateServerTag("Level", MakeVariantI2(-42), 0xC0, 1);
  CreateServerTag("Count", MakeVariantI4(100000), 0xC0, 1);
  CreateServerTag("Ratio", MakeVariantR4(0.5f), 0xC0, 1);
  CreateServerTag("Temp", MakeVariantR8(21.25), 0x40, 1);
  CreateServerTag("Run", MakeVariantBool(true), 0xC0, 1);
  VARIANT textRaw = MakeVariantText("Grüße");
  CVariant text = CVariant::Adopt(textRaw);
  CreateServerTag("Name", *text, 0xC0, 1);
  CreateServerTag("Stale", MakeVariantR8(1.0), 0x00, 0);

  for (int32_t kind : {1, 0}) {
    ASSERT_EQ(ClientCountServers(kind, Machine().c_str()), 1) << "kind " << kind;
    char name[200];
    ClientGetServerName(0, name, sizeof name);
    EXPECT_STREQ(name, kOwnName) << "kind " << kind;
  }
  const int32_t server = Connect(Machine(), kOwnName);
  ASSERT_NE(server, -1);
  int32_t rate = 0, unused = 0;
  const int32_t group = ClientAddGroup(server, "Group 1", &rate, &unused);
  ASSERT_NE(group, -1);

  // A Plexmar tag's name is its item ID.
  auto item = [&](const char* id) {
    const int32_t handle = ClientAddItem(server, group, id);
    EXPECT_NE(handle, -1) << id;
    return handle;
  };
  EXPECT_EQ(Read(server, group, item("Level"))->iVal, -42);
  CVariant count = Read(server, group, item("ns=1;s=Count"));
  EXPECT_EQ(count->vt, VT_I4);
  EXPECT_EQ(count->lVal, 100000);
  EXPECT_EQ(Read(server, group, item("Ratio"))->fltVal, 0.5f);
  uint32_t quality = 0;
  CVariant temp = Read(server, group, item("Temp"), &quality);
  EXPECT_EQ(temp->vt, VT_R8);
  EXPECT_EQ(temp->dblVal, 21.25);
  EXPECT_EQ(quality, 0x40u) << "uncertain both ways";
  CVariant run = Read(server, group, item("Run"));
  EXPECT_EQ(run->vt, VT_BOOL);
  EXPECT_EQ(run->boolVal, VARIANT_TRUE);
  CVariant name = Read(server, group, item("Name"));
  ASSERT_EQ(name->vt, VT_BSTR);
  EXPECT_EQ(BstrToUtf8(name->bstrVal), "Grüße");
  Read(server, group, item("Stale"), &quality);
  EXPECT_EQ(quality, 0u);
  EXPECT_EQ(ClientAddItem(server, group, "NoSuchTag"), -1);

  // The tags folder below Objects, and a leaf's item ID.
  ASSERT_TRUE(ClientBrowseTo(server, "Tags"));
  const int32_t leaves = ClientBrowseCount(server, 2);
  EXPECT_EQ(leaves, 7);
  char id[200];
  ASSERT_TRUE(ClientGetItemId(server, "Level", id, sizeof id));
  EXPECT_STREQ(id, "ns=1;s=Level");
}

TEST_F(OwnEndpoint, ChangesArriveAndWritesReachTheProgramInTheTagsType) {
  StartEndpoint(true);
  const int32_t level = CreateServerTag("Level", MakeVariantI2(1), 0xC0, 1);
  CreateServerTag("Setpoint", MakeVariantR8(0.0), 0xC0, 1);
  CreateServerTag("Fixed", MakeVariantI4(5), 0xC0, 0);
  const int32_t server = Connect(Machine(), kOwnName);
  ASSERT_NE(server, -1);
  int32_t a = 0, b = 0;
  const int32_t group = ClientAddGroup(server, "Group 1", &a, &b);
  const int32_t levelItem = ClientAddItem(server, group, "Level");
  const int32_t setpointItem = ClientAddItem(server, group, "Setpoint");
  const int32_t fixedItem = ClientAddItem(server, group, "Fixed");
  ASSERT_NE(levelItem, -1);
  ASSERT_NE(setpointItem, -1);
  ASSERT_NE(fixedItem, -1);
  int tag = 0;
  ASSERT_TRUE(ClientActivateItem(server, group, levelItem, &tag));
  ASSERT_TRUE(PumpUntil(3000, [] { return !g_changes.empty(); })) << "the first value of the monitored item";

  // The program changes the tag; the client hears of it within two
  // publishing intervals (250 ms each), with some room for a loaded machine.
  g_changes.clear();
  const auto changedAt = Clock::now();
  UpdateServerTag(level, MakeVariantI2(77), 0xC0);
  ASSERT_TRUE(PumpUntil(3000, [] { return !g_changes.empty() && g_changes.back().value->iVal == 77; }));
  EXPECT_LT(Clock::now() - changedAt, std::chrono::milliseconds(2 * 250 + 500));
  EXPECT_EQ(g_changes.back().reference, &tag);
  EXPECT_EQ(g_changes.back().value->vt, VT_I2);

  // A text and a Double written to an Int16 tag reach the program as VT_I2,
  // and the monitored item brings the value back.
  VARIANT textRaw = MakeVariantText("123");
  CVariant text = CVariant::Adopt(textRaw);
  ClientWriteItem(server, group, levelItem, text.get(), 1);
  VARIANT wide = MakeVariantR8(-7.0);
  ClientWriteItem(server, group, levelItem, &wide, 1);
  const std::vector<CVariant> writes = Writes("Level");
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0]->vt, VT_I2);
  EXPECT_EQ(writes[0]->iVal, 123);
  EXPECT_EQ(writes[1]->vt, VT_I2);
  EXPECT_EQ(writes[1]->iVal, -7);
  EXPECT_TRUE(PumpUntil(3000, [] { return !g_changes.empty() && g_changes.back().value->iVal == -7; }));

  // A Double tag takes an Int16 as a Double.
  VARIANT small = MakeVariantI2(42);
  ClientWriteItem(server, group, setpointItem, &small, 1);
  ASSERT_EQ(Writes("Setpoint").size(), 1u);
  EXPECT_EQ(Writes("Setpoint")[0]->vt, VT_R8);
  EXPECT_EQ(Read(server, group, setpointItem)->dblVal, 42.0);

  // A read-only tag never reaches the program and keeps its value; a text
  // that is no number is not sent at all.
  VARIANT nine = MakeVariantI4(9);
  ClientWriteItem(server, group, fixedItem, &nine, 1);
  VARIANT junkRaw = MakeVariantText("not a number");
  CVariant junk = CVariant::Adopt(junkRaw);
  ClientWriteItem(server, group, levelItem, junk.get(), 1);
  EXPECT_TRUE(Writes("Fixed").empty());
  EXPECT_EQ(Writes("Level").size(), 2u);
  EXPECT_EQ(Read(server, group, fixedItem)->lVal, 5);
  EXPECT_EQ(Read(server, group, levelItem)->iVal, -7);

  // A removed tag turns into an item the server no longer knows.
  RemoveServerTag(level);
  uint32_t quality = 0xC0;
  CVariant gone;
  FILETIME stamp;
  ClientReadItem(server, group, levelItem, gone.get(), &stamp, &quality);
  EXPECT_EQ(quality, 0u);
}

TEST_F(OwnEndpoint, ARegisteredServerIsListedForThisMachineAndReachedByItsName) {
  char pattern[] = "/tmp/plexmar-registered-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path data = pattern;
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  // As the program starts: the record, then the endpoint it names, on all
  // interfaces, so that the host name the record carries reaches it.
  StartEndpoint(false);
  ASSERT_TRUE(serverkit::WriteRegistration(kPlexmarClsid, kPlexmarProgId, kPlexmarDescription, "/opt/plexmar/plexmar"));
  CreateServerTag("Level", MakeVariantI2(64), 0xC0, 1);
  // A record whose server is not running, and one that names no endpoint.
  setenv("PLEXMAR_OPCUA_PORT", std::to_string(testsupport::PickFreePort()).c_str(), 1);
  ASSERT_TRUE(serverkit::WriteRegistration("{1}", "Other.Stopped", "Stopped", "/opt/other"));
  setenv("PLEXMAR_OPCUA_PORT", "0", 1);
  ASSERT_TRUE(serverkit::WriteRegistration("{2}", "Other.NoEndpoint", "Old", "/opt/old"));

  const int32_t n = ClientCountServers(1, "");
  std::vector<std::string> names;
  for (int32_t i = 0; i < n; ++i) {
    char name[200];
    ClientGetServerName(i, name, sizeof name);
    names.emplace_back(name);
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{kPlexmarProgId, "Other.Stopped"}));

  const int32_t server = Connect("", kPlexmarProgId);
  ASSERT_NE(server, -1);
  int32_t a = 0, b = 0;
  const int32_t group = ClientAddGroup(server, "Group 1", &a, &b);
  const int32_t item = ClientAddItem(server, group, "Level");
  ASSERT_NE(item, -1);
  EXPECT_EQ(Read(server, group, item)->iVal, 64);
  const auto start = Clock::now();
  EXPECT_EQ(Connect("", "Other.Stopped"), -1);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(6));

  // After a listing of another machine (as when a project loads), the name
  // is found again among this machine's records.
  ClientCountServers(1, Machine().c_str());
  EXPECT_NE(Connect("", kPlexmarProgId), -1);
  unsetenv("XDG_DATA_HOME");
  fs::remove_all(data);
}
