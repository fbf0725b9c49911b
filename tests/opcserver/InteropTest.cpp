// Plexmar's OPC UA endpoint against node-opcua, a client we did not write.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>

#include "opcserver/NodePeer.h"
#include "opcua/socket.h"
#include "serverkit/UaMapping.h"
#include "serverkit/serverkit.h"
#include "support/FreePort.h"

namespace {

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// As the program's write callback: the value is taken and published back;
// the tag "Integer" stands for an "Integer" Modbus tag whose source refuses
// text (the item keeps the text until the next refresh).
void TakeWrite(int32_t handle, VARIANT* value, HRESULT* result) {
  serverkit::ItemState item;
  serverkit::ReadItem(handle, item);
  UpdateServerTag(handle, *value, 0xC0);
  if (item.name == "Integer" && value->vt == VT_BSTR) *result = OPC_E_UNKNOWNITEMID;
}

VARIANT Of(VARTYPE vt, int64_t bits) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  v.llVal = bits;
  return v;
}

class OpcUaInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    port = testsupport::PickFreePort();
    setenv("PLEXMAR_OPCUA_PORT", std::to_string(port).c_str(), 1);
    setenv("PLEXMAR_OPCUA_BIND", "127.0.0.1", 1);
    InitOpcServer(kPlexmarClsid, 250);
    SetWriteCallback(TakeWrite, 1);
    ASSERT_FALSE(serverkit::OpcEndpointUrl().empty());
    url = "opc.tcp://127.0.0.1:" + std::to_string(port);
  }
  void TearDown() override { ShutdownOpcServer(); }
  int32_t Make(const char* name, VARIANT v, uint16_t quality = 0xC0, int writable = 1) {
    CVariant owned = CVariant::Adopt(v);
    const int32_t h = CreateServerTag(name, *owned, quality, writable);
    handles[name] = h;
    return h;
  }
  // One tag of each VARIANT type the program's tags take.
  void MakeEveryType() {
    Make("I1", Of(VT_I1, -5));
    Make("UI1", Of(VT_UI1, 200));
    Make("I2", MakeVariantI2(-1234));
    Make("UI2", Of(VT_UI2, 60000));
    Make("I4", MakeVariantI4(-70000));
    Make("UI4", Of(VT_UI4, 4000000000LL));
    Make("I8", Of(VT_I8, -5000000000LL));
    Make("UI8", Of(VT_UI8, 5000000000LL));
    Make("R4", MakeVariantR4(1.5f));
    Make("R8", MakeVariantR8(-2.25));
    Make("Bool", MakeVariantBool(true));
    Make("Text", MakeVariantText("hello"));
    VARIANT a;
    VariantInit(&a);
    a.vt = VT_ARRAY | VT_R8;
    a.parray = SafeArrayCreateVector(VT_R8, 0, 3);
    for (int32_t i = 0; i < 3; ++i) {
      double x = i + 0.5;
      SafeArrayPutElement(a.parray, &i, &x);
    }
    Make("Array", a);
  }
  uint16_t port = 0;
  std::string url;
  std::map<std::string, int32_t> handles;
};

}  // namespace

TEST_F(OpcUaInterop, BrowsesFromRootToTagsAndFindsEveryTag) {
  MakeEveryType();
  NodePeer peer({"browse", url});
  ASSERT_TRUE(peer.started());
  std::vector<std::string> tags;
  std::string namespaces, state, root, objects;
  for (const std::string& line : peer.Lines()) {
    if (line.rfind("tag ", 0) == 0) tags.push_back(line);
    if (line.rfind("namespaces ", 0) == 0) namespaces = line;
    if (line.rfind("state ", 0) == 0) state = line;
    if (line.rfind("root ", 0) == 0) root = line;
    if (line.rfind("objects ", 0) == 0) objects = line;
    EXPECT_NE(line.rfind("error", 0), 0u) << line;
  }
  EXPECT_EQ(root, "root Objects,Types,Views");
  EXPECT_NE(objects.find("Tags"), std::string::npos);
  EXPECT_NE(objects.find("Server"), std::string::npos);
  ASSERT_EQ(tags.size(), handles.size());
  for (const auto& [name, h] : handles) {
    const std::string want = "tag 1:" + name + " ns=1;s=" + name + " " + name + " Variable";
    EXPECT_NE(std::find(tags.begin(), tags.end(), want), tags.end()) << want;
  }
  EXPECT_NE(namespaces.find(",urn:"), std::string::npos) << namespaces;
  EXPECT_NE(namespaces.find(":Norvell:Plexmar"), std::string::npos) << namespaces;
  EXPECT_EQ(state, "state Good 0");
}

TEST_F(OpcUaInterop, ReadsEachDataTypeWithStatusAndSourceTimestamp) {
  MakeEveryType();
  Make("Stale", MakeVariantI2(1), 0x00);
  Make("Doubtful", MakeVariantI2(1), 0x40, 0);
  std::vector<std::string> args{"read", url};
  for (const auto& [name, h] : handles) args.push_back(name);
  NodePeer peer(args);
  // read <name> <status> <DataType id> <ValueRank> <AccessLevel> <source ms> <Variant type> <value>
  const std::map<std::string, std::vector<std::string>> want = {
      {"I1", {"Good", "ns=0;i=2", "-1", "3", "SByte", "-5"}},
      {"UI1", {"Good", "ns=0;i=3", "-1", "3", "Byte", "200"}},
      {"I2", {"Good", "ns=0;i=4", "-1", "3", "Int16", "-1234"}},
      {"UI2", {"Good", "ns=0;i=5", "-1", "3", "UInt16", "60000"}},
      {"I4", {"Good", "ns=0;i=6", "-1", "3", "Int32", "-70000"}},
      {"UI4", {"Good", "ns=0;i=7", "-1", "3", "UInt32", "4000000000"}},
      {"I8", {"Good", "ns=0;i=8", "-1", "3", "Int64", "-5000000000"}},
      {"UI8", {"Good", "ns=0;i=9", "-1", "3", "UInt64", "5000000000"}},
      {"R4", {"Good", "ns=0;i=10", "-1", "3", "Float", "1.5"}},
      {"R8", {"Good", "ns=0;i=11", "-1", "3", "Double", "-2.25"}},
      {"Bool", {"Good", "ns=0;i=1", "-1", "3", "Boolean", "true"}},
      {"Text", {"Good", "ns=0;i=12", "-1", "3", "String", "\"hello\""}},
      {"Array", {"Good", "ns=0;i=11", "1", "3", "Double", "[0.5,1.5,2.5]"}},
      {"Stale", {"Bad", "ns=0;i=4", "-1", "3", "Int16", "1"}},
      {"Doubtful", {"Uncertain", "ns=0;i=4", "-1", "1", "Int16", "1"}},
  };
  size_t seen = 0;
  for (const std::string& line : peer.Lines()) {
    auto w = Words(line);
    ASSERT_FALSE(w.empty());
    ASSERT_NE(w[0], "error") << line;
    if (w[0] != "read" || w.size() < 9) continue;
    ++seen;
    const auto& e = want.at(w[1]);
    EXPECT_EQ(w[2], e[0]) << line;
    EXPECT_EQ(w[3], e[1]) << line;
    EXPECT_EQ(w[4], e[2]) << line;
    EXPECT_EQ(w[5], e[3]) << line;
    EXPECT_EQ(w[7], e[4]) << line;
    EXPECT_EQ(w[8], e[5]) << line;
    serverkit::ItemState item;
    ASSERT_TRUE(serverkit::ReadItem(handles[w[1]], item));
    EXPECT_EQ(std::stoll(w[6]), serverkit::ua::ToDateTime(item.timestamp).UnixMillis()) << line;
  }
  EXPECT_EQ(seen, want.size());
}

TEST_F(OpcUaInterop, WritesEachDataTypeAndAWrongOne) {
  MakeEveryType();
  Make("Integer", MakeVariantI2(3));
  Make("ReadOnly", MakeVariantI2(3), 0xC0, 0);
  struct Case {
    const char* tag;
    const char* type;
    const char* value;
    const char* expect;  // write status, read status, Variant type, value
  };
  const Case cases[] = {
      {"I1", "SByte", "-7", "Good Good SByte -7"},
      {"UI1", "Byte", "7", "Good Good Byte 7"},
      {"I2", "Int16", "-300", "Good Good Int16 -300"},
      {"UI2", "UInt16", "300", "Good Good UInt16 300"},
      {"I4", "Int32", "123456", "Good Good Int32 123456"},
      {"UI4", "UInt32", "3000000000", "Good Good UInt32 3000000000"},
      {"I8", "Int64", "42", "Good Good Int64 42"},
      {"R4", "Float", "0.25", "Good Good Float 0.25"},
      {"R8", "Double", "1e10", "Good Good Double 10000000000"},
      {"Bool", "Boolean", "false", "Good Good Boolean false"},
      {"Text", "String", "\"grüß\"", "Good Good String \"grüß\""},
      // The written Variant keeps its own type on its way to the program.
      {"R8", "Int16", "5", "Good Good Int16 5"},
      // Text to an "Integer" source: refused, and read back until the next refresh.
      {"Integer", "String", "\"abc\"", "BadTypeMismatch Good String \"abc\""},
      {"ReadOnly", "Int16", "1", "BadNotWritable Good Int16 3"},
  };
  std::vector<std::string> args{"write", url};
  for (const Case& c : cases) args.insert(args.end(), {c.tag, c.type, c.value});
  args.insert(args.end(), {"Array", "Double[]", "[9,8]"});
  NodePeer peer(args);
  for (const Case& c : cases) EXPECT_EQ(peer.Expect("write "), std::string("write ") + c.tag + " " + c.expect);
  EXPECT_EQ(peer.Expect("write "), "write Array Good Good Double [9,8]");
}

TEST_F(OpcUaInterop, SubscriptionSeesAChangeWithinTwoPublishingIntervals) {
  const int32_t h = Make("Level", MakeVariantI4(1));
  NodePeer peer({"subscribe", url, "Level", "250"});
  EXPECT_EQ(peer.Expect("initial "), "initial 1");
  ASSERT_EQ(peer.Expect("ready"), "ready");
  UpdateServerTag(h, MakeVariantI4(2), 0xC0);
  const auto w = Words(peer.Expect("changed "));
  ASSERT_EQ(w.size(), 3u);
  EXPECT_EQ(w[1], "2");
  EXPECT_LE(std::stoi(w[2]), 500);
}

TEST_F(OpcUaInterop, TwentyClientsAtOnceEachReadEveryTag) {
  std::vector<std::string> args{"many", url, "20"};
  for (int i = 0; i < 50; ++i) {
    const std::string name = "Tag" + std::to_string(i);
    Make(name.c_str(), MakeVariantI4(i));
    args.push_back(name);
  }
  NodePeer peer(args);
  std::string expect = "many ";
  for (int i = 0; i < 20; ++i) expect += (i ? ",50" : "50");
  EXPECT_EQ(peer.Expect("many ", 90000), expect);
}

TEST_F(OpcUaInterop, AClientReconnectsAfterAServerRestart) {
  Make("Kept", MakeVariantI4(11));
  NodePeer peer({"reconnect", url, "Kept"});
  ASSERT_EQ(peer.Expect("before "), "before Good");
  // The program stops and starts again with the same project.
  ShutdownOpcServer();
  InitOpcServer(kPlexmarClsid, 250);
  SetWriteCallback(TakeWrite, 1);
  Make("Kept", MakeVariantI4(12));
  peer.Send("restarted");
  EXPECT_EQ(peer.Expect("after ", 60000), "after Good 12");
}

TEST_F(OpcUaInterop, BrowseNextWalksPastTheContinuationPoint) {
  for (int i = 0; i < 25; ++i) Make(("P" + std::to_string(i)).c_str(), MakeVariantI4(i));
  NodePeer peer({"browsenext", url, "10"});
  EXPECT_EQ(peer.Expect("first "), "first 25");
  EXPECT_EQ(peer.Expect("pages "), "pages 3 refs 25 unique 25 released BadContinuationPointInvalid");
}

TEST_F(OpcUaInterop, AMessageLargerThanOneChunkGoesThroughBothWays) {
  Make("Big", MakeVariantText(""));
  NodePeer peer({"large", url, "Big", "300000"});
  EXPECT_EQ(peer.Expect("large ", 60000), "large Good Good 300000 true");
  serverkit::ItemState item;
  ASSERT_TRUE(serverkit::FindItem("Big", item));
  EXPECT_EQ(BstrToUtf8(item.value->bstrVal).size(), 300000u);
}

TEST_F(OpcUaInterop, ABusyPortIsReportedAndTheProgramRunsOn) {
  // Our own endpoint holds the port; a second start on it must fail quietly.
  serverkit::StopOpcEndpoint();
  std::string error;
  opcua::Socket holder = opcua::Socket::Listen("127.0.0.1", port, &error);
  ASSERT_TRUE(holder.valid()) << error;
  testing::internal::CaptureStderr();
  serverkit::StartOpcEndpoint();
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(serverkit::OpcEndpointUrl().empty());
  EXPECT_NE(said.find("cannot listen"), std::string::npos) << said;
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1);
  EXPECT_GE(Make("Still", MakeVariantI4(1)), 0);
}
