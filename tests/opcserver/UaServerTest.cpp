// The OPC UA server over the item table, driven by the stack's own client:
// the mappings, the services' answers, the write path's bounded wait, and
// the limits a client cannot push past.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "opcua/client.h"
#include "opcua/nodeids.h"
#include "serverkit/UaMapping.h"
#include "serverkit/UaServer.h"
#include "serverkit/serverkit.h"

using namespace opcua;
using serverkit::ua::Server;
using serverkit::ua::ServerLimits;
using B = BuiltinType;

namespace {

// A client with an activated anonymous session.
struct Client {
  ClientConnection connection;
  StatusCode Open(const std::string& url) {
    StatusCode s = connection.Connect(url, 3000);
    if (s != status::Good) return s;
    CreateSessionRequest create;
    create.endpointUrl = String(url);
    create.sessionName = String("test");
    create.requestedSessionTimeout = 60000;
    CreateSessionResponse created;
    s = connection.Call(create, created);
    if (s != status::Good) return s;
    connection.SetAuthenticationToken(created.authenticationToken);
    ActivateSessionRequest activate;
    activate.userIdentityToken = Pack(AnonymousIdentityToken{String("anonymous")});
    ActivateSessionResponse activated;
    return connection.Call(activate, activated);
  }
  DataValue Read(const NodeId& node, uint32_t attribute = attr::Value) {
    ReadRequest q;
    ReadValueId id;
    id.nodeId = node;
    id.attributeId = attribute;
    q.nodesToRead.push_back(id);
    ReadResponse r;
    if (connection.Call(q, r) != status::Good || r.results.size() != 1) {
      DataValue bad;
      bad.status = status::BadCommunicationError;
      return bad;
    }
    return r.results[0];
  }
  StatusCode Write(const NodeId& node, Variant value) {
    WriteRequest q;
    WriteValue w;
    w.nodeId = node;
    w.value.value = std::move(value);
    w.value.hasValue = true;
    q.nodesToWrite.push_back(w);
    WriteResponse r;
    const StatusCode s = connection.Call(q, r, 10000);
    if (s != status::Good) return s;
    return r.results.size() == 1 ? r.results[0] : status::BadUnexpectedError;
  }
};

NodeId Tag(const std::string& name) { return NodeId::Text(1, name); }

// The program's side: a write callback that takes every value but refuses
// text for the tag named "Integer", as a Modbus "Integer" source does, while
// still showing the written value until the next refresh.
std::atomic<int> g_callbacks{0};
void WriteLikeTheProgram(int32_t handle, VARIANT* value, HRESULT* result) {
  ++g_callbacks;
  serverkit::ItemState item;
  serverkit::ReadItem(handle, item);
  UpdateServerTag(handle, *value, 0xC0);
  if (item.name == "Integer" && value->vt == VT_BSTR) *result = OPC_E_UNKNOWNITEMID;
  if (item.name == "Broken") *result = static_cast<HRESULT>(0x80004005u);
}

class UaServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // These tests start their own server; the toolkit's endpoint stays off.
    setenv("PLEXMAR_OPCUA_PORT", "0", 1);
    InitOpcServer(kPlexmarClsid, 250);
    SetWriteCallback(WriteLikeTheProgram, 1);
  }
  void TearDown() override {
    server.reset();
    serverkit::SetWriteDispatcher(nullptr);
    ShutdownOpcServer();
  }
  void Start(const ServerLimits& limits = ServerLimits()) {
    server = std::make_unique<Server>(limits);
    std::string error;
    ASSERT_TRUE(server->Start("127.0.0.1", 0, &error)) << error;
    url = "opc.tcp://127.0.0.1:" + std::to_string(server->Port());
  }
  std::unique_ptr<Server> server;
  std::string url;
};

}  // namespace

TEST(UaMapping, QualitiesAndWriteResults) {
  using namespace serverkit::ua;
  EXPECT_EQ(QualityToStatus(0xC0), status::Good);
  EXPECT_EQ(QualityToStatus(0xD8), status::Good);
  EXPECT_EQ(QualityToStatus(0x40), status::Uncertain);
  EXPECT_EQ(QualityToStatus(0x7F), status::Uncertain);
  EXPECT_EQ(QualityToStatus(0x00), status::Bad);
  EXPECT_EQ(QualityToStatus(0x80), status::Bad);
  EXPECT_EQ(QualityToStatus(0x3F), status::Bad);
  EXPECT_EQ(WriteResultToStatus(S_OK), status::Good);
  EXPECT_EQ(WriteResultToStatus(OPC_E_INVALIDHANDLE), status::BadNodeIdUnknown);
  EXPECT_EQ(WriteResultToStatus(OPC_E_BADRIGHTS), status::BadNotWritable);
  EXPECT_EQ(WriteResultToStatus(static_cast<HRESULT>(0x80004005u)), status::BadInternalError);
  EXPECT_EQ(WriteResultToStatus(OPC_E_UNKNOWNITEMID), status::BadTypeMismatch);
  EXPECT_EQ(WriteResultToStatus(DISP_E_OVERFLOW), status::BadInternalError);
}

TEST(UaMapping, VariantsBothWaysKeepTheirType) {
  using namespace serverkit::ua;
  const std::pair<VARIANT, B> cases[] = {
      {MakeVariantI2(-3), B::Int16},     {MakeVariantI4(70000), B::Int32}, {MakeVariantR4(1.5f), B::Float},
      {MakeVariantR8(-2.25), B::Double}, {MakeVariantBool(true), B::Boolean},
  };
  for (const auto& [vt, type] : cases) {
    Variant v;
    ASSERT_TRUE(ToVariant(vt, v));
    EXPECT_EQ(v.type(), type);
    EXPECT_TRUE(v.IsScalar());
    CVariant back;
    ASSERT_TRUE(FromVariant(v, back));
    EXPECT_EQ(back->vt, vt.vt);
    EXPECT_EQ(back->llVal & 0xFFFF, vt.llVal & 0xFFFF);
  }
  VARIANT textRaw = MakeVariantText("grüß");
  CVariant text(textRaw);
  VariantClear(&textRaw);
  Variant tv;
  ASSERT_TRUE(ToVariant(*text, tv));
  EXPECT_EQ(tv.Values<B::String>()[0].str(), "grüß");
  // A one-dimensional SAFEARRAY is an array with ValueRank 1.
  VARIANT array;
  VariantInit(&array);
  array.vt = VT_ARRAY | VT_I2;
  array.parray = SafeArrayCreateVector(VT_I2, 0, 3);
  for (int32_t i = 0; i < 3; ++i) {
    int16_t x = static_cast<int16_t>(i * 10);
    SafeArrayPutElement(array.parray, &i, &x);
  }
  CVariant owned = CVariant::Adopt(array);
  Variant av;
  ASSERT_TRUE(ToVariant(*owned, av));
  EXPECT_TRUE(av.IsArray());
  EXPECT_EQ(av.Values<B::Int16>(), (std::vector<int16_t>{0, 10, 20}));
  EXPECT_EQ(ValueRankOf(owned->vt), 1);
  EXPECT_EQ(DataTypeOf(owned->vt), id::Int16);
  CVariant backArray;
  ASSERT_TRUE(FromVariant(av, backArray));
  EXPECT_EQ(backArray->vt, VT_ARRAY | VT_I2);
  // Types the item table cannot hold are refused.
  CVariant none;
  EXPECT_FALSE(FromVariant(Variant::Scalar<B::NodeId>(NodeId(0, 1)), none));
  Variant matrix = Variant::ArrayOf<B::Byte>(std::vector<uint8_t>{1, 2, 3, 4});
  matrix.dimensions() = {2, 2};
  EXPECT_FALSE(FromVariant(matrix, none));
  EXPECT_FALSE(FromVariant(Variant(), none));
}

TEST_F(UaServerTest, ReadsTagsAndTheStandardNodes) {
  const int32_t i2 = CreateServerTag("Level", MakeVariantI2(42), 0xC0, 1);
  CreateServerTag("Stale", MakeVariantR8(1.0), 0x00, 0);
  Start();
  Client c;
  ASSERT_EQ(c.Open(url), status::Good);
  DataValue v = c.Read(Tag("Level"));
  EXPECT_EQ(v.status, status::Good);
  ASSERT_TRUE(v.value.Holds<B::Int16>());
  EXPECT_EQ(v.value.Values<B::Int16>()[0], 42);
  serverkit::ItemState item;
  ASSERT_TRUE(serverkit::ReadItem(i2, item));
  EXPECT_EQ(v.sourceTimestamp, serverkit::ua::ToDateTime(item.timestamp));
  EXPECT_EQ(c.Read(Tag("Stale")).status, status::Bad);
  EXPECT_EQ(c.Read(Tag("Level"), attr::DataType).value.Values<B::NodeId>()[0], NodeId(0, id::Int16));
  EXPECT_EQ(c.Read(Tag("Stale"), attr::AccessLevel).value.Values<B::Byte>()[0], 1);
  EXPECT_EQ(c.Read(Tag("Level"), attr::AccessLevel).value.Values<B::Byte>()[0], 3);
  EXPECT_EQ(c.Read(Tag("Level"), attr::BrowseName).value.Values<B::QualifiedName>()[0],
            (QualifiedName{1, String("Level")}));
  EXPECT_EQ(c.Read(Tag("Missing")).status, status::BadNodeIdUnknown);
  EXPECT_EQ(c.Read(Tag("Level"), attr::IsAbstract).status, status::BadAttributeIdInvalid);
  EXPECT_EQ(c.Read(Tag("Level"), 999).status, status::BadAttributeIdInvalid);

  const DataValue ns = c.Read(NodeId(0, id::Server_NamespaceArray));
  ASSERT_EQ(ns.value.Length(), 2u);
  EXPECT_NE(ns.value.Values<B::String>()[1].str().find("Plexmar"), std::string::npos);
  ServerStatusDataType st;
  const DataValue sv = c.Read(NodeId(0, id::Server_ServerStatus));
  ASSERT_TRUE(sv.value.Holds<B::ExtensionObject>());
  ASSERT_TRUE(Unpack(sv.value.Values<B::ExtensionObject>()[0], st));
  EXPECT_EQ(st.state, ServerState::Running);
  EXPECT_EQ(c.Read(NodeId(0, id::OperationLimits_MaxNodesPerRead)).value.Values<B::UInt32>()[0], 10000u);
  EXPECT_EQ(c.Read(NodeId(0, id::HasComponent), attr::IsAbstract).value.Values<B::Boolean>()[0], false);
  EXPECT_EQ(c.Read(NodeId(0, id::HasSubtype), attr::InverseName).value.Values<B::LocalizedText>()[0].text.str(),
            "SubtypeOf");
  // Every attribute of every standard node answers, Good or BadAttributeIdInvalid.
  for (uint32_t node : {id::RootFolder, id::Server, id::Server_ServerStatus, id::BaseDataType, id::FolderType,
                        id::PropertyType, id::Organizes}) {
    for (uint32_t a = 1; a <= attr::kLast; ++a) {
      const StatusCode s = c.Read(NodeId(0, node), a).status;
      EXPECT_TRUE(s == status::Good || s == status::BadAttributeIdInvalid) << node << " " << a << " " << StatusCodeName(s);
    }
  }
}

TEST_F(UaServerTest, WritesGoThroughTheCallbackWithTheirMappedResults) {
  const int32_t integer = CreateServerTag("Integer", MakeVariantI2(1), 0xC0, 1);
  CreateServerTag("Free", MakeVariantR4(0), 0xC0, 1);
  CreateServerTag("Locked", MakeVariantI4(5), 0xC0, 0);
  CreateServerTag("Broken", MakeVariantI4(5), 0xC0, 1);
  Start();
  Client c;
  ASSERT_EQ(c.Open(url), status::Good);
  EXPECT_EQ(c.Write(Tag("Free"), Variant::Scalar<B::Float>(2.5f)), status::Good);
  EXPECT_EQ(c.Read(Tag("Free")).value.Values<B::Float>()[0], 2.5f);
  // The value keeps its own type on the way in.
  EXPECT_EQ(c.Write(Tag("Free"), Variant::Scalar<B::Int32>(7)), status::Good);
  EXPECT_TRUE(c.Read(Tag("Free")).value.Holds<B::Int32>());
  // Text to an "Integer" source: refused, and read back until the next refresh.
  EXPECT_EQ(c.Write(Tag("Integer"), Variant::Scalar<B::String>(String("abc"))), status::BadTypeMismatch);
  EXPECT_EQ(c.Read(Tag("Integer")).value.Values<B::String>()[0].str(), "abc");
  UpdateServerTag(integer, MakeVariantI2(9), 0xC0);
  EXPECT_EQ(c.Read(Tag("Integer")).value.Values<B::Int16>()[0], 9);
  const int before = g_callbacks;
  EXPECT_EQ(c.Write(Tag("Locked"), Variant::Scalar<B::Int32>(1)), status::BadNotWritable);
  EXPECT_EQ(c.Write(Tag("Broken"), Variant::Scalar<B::Int32>(1)), status::BadInternalError);
  EXPECT_EQ(c.Write(Tag("Nope"), Variant::Scalar<B::Int32>(1)), status::BadNodeIdUnknown);
  EXPECT_EQ(c.Write(NodeId(0, id::Server_ServiceLevel), Variant::Scalar<B::Byte>(1)), status::BadNotWritable);
  EXPECT_EQ(c.Write(Tag("Free"), Variant::Scalar<B::NodeId>(NodeId(0, 1))), status::BadTypeMismatch);
  EXPECT_EQ(g_callbacks - before, 1);  // only "Broken" reached the program
}

TEST_F(UaServerTest, AProgramThatDoesNotAnswerGivesBadTimeoutAndTheServerGoesOn) {
  CreateServerTag("Slow", MakeVariantI4(0), 0xC0, 1);
  // A user-interface thread that takes the job but sits on it.
  std::mutex m;
  std::condition_variable cv;
  bool release = false;
  serverkit::SetWriteDispatcher([&](const std::function<void()>&) {
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return release; });
  });
  ServerLimits limits;
  limits.writeTimeoutMs = 300;
  Start(limits);
  Client c;
  ASSERT_EQ(c.Open(url), status::Good);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(c.Write(Tag("Slow"), Variant::Scalar<B::Int32>(1)), status::BadTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
  // Reads still work while the writer waits.
  EXPECT_EQ(c.Read(Tag("Slow")).status, status::Good);
  {
    std::lock_guard lock(m);
    release = true;
  }
  cv.notify_all();
}

TEST_F(UaServerTest, BrowseWithContinuationPointsAndTranslate) {
  for (int i = 0; i < 25; ++i) CreateServerTag(("T" + std::to_string(i)).c_str(), MakeVariantI4(i), 0xC0, 1);
  Start();
  Client c;
  ASSERT_EQ(c.Open(url), status::Good);
  BrowseRequest q;
  q.requestedMaxReferencesPerNode = 10;
  BrowseDescription d;
  d.nodeId = Tag("Tags");
  d.referenceTypeId = NodeId(0, id::HierarchicalReferences);
  q.nodesToBrowse.push_back(d);
  BrowseResponse r;
  ASSERT_EQ(c.connection.Call(q, r), status::Good);
  ASSERT_EQ(r.results[0].references.size(), 10u);
  EXPECT_EQ(r.results[0].references[0].browseName, (QualifiedName{1, String("T0")}));
  size_t total = 10;
  ByteString cp = r.results[0].continuationPoint;
  while (!cp.null() && cp.size() != 0) {
    BrowseNextRequest next;
    next.continuationPoints.push_back(cp);
    BrowseNextResponse nr;
    ASSERT_EQ(c.connection.Call(next, nr), status::Good);
    total += nr.results[0].references.size();
    cp = nr.results[0].continuationPoint;
  }
  EXPECT_EQ(total, 25u);
  // A client that keeps asking for continuation points runs out.
  StatusCode last = status::Good;
  for (int i = 0; i < 12; ++i) {
    BrowseResponse again;
    ASSERT_EQ(c.connection.Call(q, again), status::Good);
    last = again.results[0].statusCode;
  }
  EXPECT_EQ(last, status::BadNoContinuationPoints);

  TranslateBrowsePathsToNodeIdsRequest t;
  BrowsePath path;
  path.startingNode = NodeId(0, id::RootFolder);
  for (auto [ns, name] : {std::pair<uint16_t, const char*>{0, "Objects"}, {1, "Tags"}, {1, "T7"}}) {
    RelativePathElement e;
    e.referenceTypeId = NodeId(0, id::HierarchicalReferences);
    e.targetName = QualifiedName{ns, String(name)};
    path.relativePath.elements.push_back(e);
  }
  t.browsePaths.push_back(path);
  path.relativePath.elements.back().targetName.name = String("Nope");
  t.browsePaths.push_back(path);
  TranslateBrowsePathsToNodeIdsResponse tr;
  ASSERT_EQ(c.connection.Call(t, tr), status::Good);
  ASSERT_EQ(tr.results[0].targets.size(), 1u);
  EXPECT_EQ(tr.results[0].targets[0].targetId.nodeId, Tag("T7"));
  EXPECT_EQ(tr.results[1].statusCode, status::BadNoMatch);
}

// The URL names what a client can reach: the host name when the endpoint
// listens on every interface, else the one address it listens on, so that a
// local client is never sent to a host name that resolves elsewhere.
TEST_F(UaServerTest, TheEndpointUrlNamesTheListenAddress) {
  EXPECT_EQ(serverkit::ua::AdvertisedHost(""), LocalHostName());
  EXPECT_EQ(serverkit::ua::AdvertisedHost("0.0.0.0"), LocalHostName());
  EXPECT_EQ(serverkit::ua::AdvertisedHost("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(serverkit::ua::AdvertisedHost("::1"), "[::1]");
  Start();
  EXPECT_EQ(server->EndpointUrl(), url);
  setenv("PLEXMAR_OPCUA_PORT", "4901", 1);
  setenv("PLEXMAR_OPCUA_BIND", "127.0.0.1", 1);
  EXPECT_EQ(serverkit::ConfiguredOpcEndpointUrl(), "opc.tcp://127.0.0.1:4901");
  unsetenv("PLEXMAR_OPCUA_BIND");
  EXPECT_EQ(serverkit::ConfiguredOpcEndpointUrl(), "opc.tcp://" + LocalHostName() + ":4901");
  setenv("PLEXMAR_OPCUA_PORT", "0", 1);
}

TEST_F(UaServerTest, SessionsAndUnsupportedServices) {
  CreateServerTag("X", MakeVariantI4(1), 0xC0, 1);
  ServerLimits limits;
  limits.maxSessions = 2;
  Start(limits);
  Client a, b, d;
  ASSERT_EQ(a.Open(url), status::Good);
  ASSERT_EQ(b.Open(url), status::Good);
  EXPECT_EQ(d.Open(url), status::BadTooManySessions);
  // Without a session nothing is read.
  ClientConnection bare;
  ASSERT_EQ(bare.Connect(url), status::Good);
  ReadRequest q;
  q.nodesToRead.push_back(ReadValueId{Tag("X"), attr::Value, String(), QualifiedName()});
  ReadResponse r;
  EXPECT_EQ(bare.Call(q, r), status::BadSessionIdInvalid);
  // A service we do not offer (Call, 712) is named as such.
  Encoder e;
  Encode(e, NodeId(0, 712));
  RequestHeader h;
  h.authenticationToken = NodeId();
  h.requestHandle = 77;
  Encode(e, h);
  Encode(e, int32_t{0});
  const uint32_t id = a.connection.PostBody(e.Take());
  std::vector<uint8_t> body;
  ASSERT_EQ(a.connection.Wait(id, body, 3000), status::Good);
  ServiceFault fault;
  ASSERT_EQ(DecodeMessage(body, fault), status::Good);
  EXPECT_EQ(fault.responseHeader.serviceResult, status::BadServiceUnsupported);
  EXPECT_EQ(fault.responseHeader.requestHandle, 77u);
  // Closing a session makes room for another.
  CloseSessionRequest close;
  CloseSessionResponse closed;
  ASSERT_EQ(a.connection.Call(close, closed), status::Good);
  EXPECT_EQ(d.Open(url), status::Good);
}

TEST_F(UaServerTest, SubscriptionSeesAChangeWithinTwoIntervals) {
  const int32_t h = CreateServerTag("Watched", MakeVariantI4(1), 0xC0, 1);
  Start();
  Client c;
  ASSERT_EQ(c.Open(url), status::Good);
  CreateSubscriptionRequest cs;
  cs.requestedPublishingInterval = 100;
  cs.requestedMaxKeepAliveCount = 10;
  cs.requestedLifetimeCount = 100;
  cs.publishingEnabled = true;
  CreateSubscriptionResponse sub;
  ASSERT_EQ(c.connection.Call(cs, sub), status::Good);
  EXPECT_EQ(sub.revisedPublishingInterval, 100);
  CreateMonitoredItemsRequest cm;
  cm.subscriptionId = sub.subscriptionId;
  MonitoredItemCreateRequest item;
  item.itemToMonitor.nodeId = Tag("Watched");
  item.requestedParameters.clientHandle = 5;
  item.requestedParameters.samplingInterval = 100;
  cm.itemsToCreate.push_back(item);
  item.itemToMonitor.nodeId = Tag("Missing");
  cm.itemsToCreate.push_back(item);
  CreateMonitoredItemsResponse created;
  ASSERT_EQ(c.connection.Call(cm, created), status::Good);
  EXPECT_EQ(created.results[0].statusCode, status::Good);
  EXPECT_EQ(created.results[1].statusCode, status::BadNodeIdUnknown);

  auto publish = [&](PublishResponse& out) {
    PublishRequest p;
    p.requestHeader.timeoutHint = 5000;
    return c.connection.Call(p, out, 5000);
  };
  auto valueIn = [](const PublishResponse& r, int32_t& value) {
    for (const ExtensionObject& x : r.notificationMessage.notificationData) {
      DataChangeNotification dc;
      if (Unpack(x, dc) && !dc.monitoredItems.empty()) {
        value = dc.monitoredItems[0].value.value.Values<B::Int32>()[0];
        return dc.monitoredItems[0].clientHandle == 5u;
      }
    }
    return false;
  };
  PublishResponse first;
  ASSERT_EQ(publish(first), status::Good);
  int32_t value = 0;
  ASSERT_TRUE(valueIn(first, value));
  EXPECT_EQ(value, 1);
  PublishResponse change;
  const uint32_t pending = [&] {
    PublishRequest p;
    p.requestHeader.timeoutHint = 5000;
    SubscriptionAcknowledgement ack{sub.subscriptionId, first.notificationMessage.sequenceNumber};
    p.subscriptionAcknowledgements.push_back(ack);
    return c.connection.Post(p);
  }();
  const auto t0 = std::chrono::steady_clock::now();
  UpdateServerTag(h, MakeVariantI4(2), 0xC0);
  std::vector<uint8_t> body;
  ASSERT_EQ(c.connection.Wait(pending, body, 3000), status::Good);
  const auto elapsed = std::chrono::steady_clock::now() - t0;
  ASSERT_EQ(ClientConnection::DecodeResponse(body, change), status::Good);
  ASSERT_TRUE(valueIn(change, value));
  EXPECT_EQ(value, 2);
  EXPECT_LT(elapsed, std::chrono::milliseconds(200 + 100));  // two intervals and a margin
  EXPECT_EQ(change.results.size(), 1u);
  EXPECT_EQ(change.results[0], status::Good);  // the acknowledgement

  // Republish finds the message still kept; a bad subscription id is named.
  RepublishRequest rp;
  rp.subscriptionId = sub.subscriptionId;
  rp.retransmitSequenceNumber = change.notificationMessage.sequenceNumber;
  RepublishResponse rr;
  EXPECT_EQ(c.connection.Call(rp, rr), status::Good);
  rp.retransmitSequenceNumber = 9999;
  EXPECT_EQ(c.connection.Call(rp, rr), status::BadMessageNotAvailable);
  DeleteSubscriptionsRequest del;
  del.subscriptionIds.push_back(sub.subscriptionId);
  del.subscriptionIds.push_back(424242);
  DeleteSubscriptionsResponse dr;
  ASSERT_EQ(c.connection.Call(del, dr), status::Good);
  EXPECT_EQ(dr.results[0], status::Good);
  EXPECT_EQ(dr.results[1], status::BadSubscriptionIdInvalid);
  PublishResponse none;
  EXPECT_EQ(publish(none), status::BadNoSubscription);
}

// A tag removed and made anew under its name (as the tag list does when a
// tag is edited) goes on reporting on the monitored item made for the first:
// the client sees the node go, then the new tag's value and its changes.
TEST_F(UaServerTest, AMonitoredItemFollowsATagMadeAnewUnderItsName) {
  const int32_t first = CreateServerTag("Remade", MakeVariantI4(1), 0xC0, 1);
  Start();
  Client c;
  ASSERT_EQ(c.Open(url), status::Good);
  CreateSubscriptionRequest cs;
  cs.requestedPublishingInterval = 50;
  cs.requestedMaxKeepAliveCount = 10;
  cs.requestedLifetimeCount = 100;
  cs.publishingEnabled = true;
  CreateSubscriptionResponse sub;
  ASSERT_EQ(c.connection.Call(cs, sub), status::Good);
  CreateMonitoredItemsRequest cm;
  cm.subscriptionId = sub.subscriptionId;
  MonitoredItemCreateRequest item;
  item.itemToMonitor.nodeId = Tag("Remade");
  item.requestedParameters.clientHandle = 9;
  item.requestedParameters.samplingInterval = 50;
  cm.itemsToCreate.push_back(item);
  CreateMonitoredItemsResponse created;
  ASSERT_EQ(c.connection.Call(cm, created), status::Good);
  ASSERT_EQ(created.results[0].statusCode, status::Good);

  // Publishes until the item reports `want` (a value) or a bad status when
  // `want` is negative.
  uint32_t acknowledge = 0;
  auto until = [&](int32_t want) {
    for (int round = 0; round < 40; ++round) {
      PublishRequest p;
      p.requestHeader.timeoutHint = 3000;
      if (acknowledge != 0) p.subscriptionAcknowledgements.push_back({sub.subscriptionId, acknowledge});
      PublishResponse r;
      if (c.connection.Call(p, r, 3000) != status::Good) return false;
      if (!r.notificationMessage.notificationData.empty()) acknowledge = r.notificationMessage.sequenceNumber;
      for (const ExtensionObject& x : r.notificationMessage.notificationData) {
        DataChangeNotification dc;
        if (!Unpack(x, dc)) continue;
        for (const MonitoredItemNotification& n : dc.monitoredItems) {
          if (n.clientHandle != 9u) continue;
          if (want < 0 && IsBad(n.value.status)) return true;
          if (want >= 0 && n.value.value.Holds<B::Int32>() && n.value.value.Values<B::Int32>()[0] == want)
            return true;
        }
      }
    }
    return false;
  };
  ASSERT_TRUE(until(1));
  RemoveServerTag(first);
  EXPECT_TRUE(until(-1)) << "the node is gone";
  const int32_t second = CreateServerTag("Remade", MakeVariantI4(7), 0xC0, 1);
  ASSERT_NE(second, first);
  EXPECT_TRUE(until(7)) << "the new tag's value";
  UpdateServerTag(second, MakeVariantI4(8), 0xC0);
  EXPECT_TRUE(until(8)) << "and its changes";
}

TEST_F(UaServerTest, SilentAndGarbageClientsAreDroppedAndCostOthersNothing) {
  CreateServerTag("X", MakeVariantI4(1), 0xC0, 1);
  ServerLimits limits;
  limits.helloTimeoutMs = 300;
  Start(limits);
  StatusCode connected = status::Good;
  Socket silent = Socket::Connect("127.0.0.1", server->Port(), 1000, &connected);
  ASSERT_TRUE(silent.valid());
  Socket garbage = Socket::Connect("127.0.0.1", server->Port(), 1000, &connected);
  ASSERT_TRUE(garbage.valid());
  const std::string junk = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
  ASSERT_TRUE(garbage.SendAll(reinterpret_cast<const uint8_t*>(junk.data()), junk.size(), 1000));
  // Meanwhile a proper client is served.
  Client c;
  ASSERT_EQ(c.Open(url), status::Good);
  EXPECT_EQ(c.Read(Tag("X")).status, status::Good);
  // The garbage gets an Error message and a closed socket, the silent one a
  // closed socket after the time-out.
  std::vector<uint8_t> answer;
  for (int i = 0; i < 20; ++i)
    if (garbage.ReceiveSome(answer, 4096, 100) < 0) break;
  ASSERT_GE(answer.size(), 8u);
  EXPECT_EQ(std::string(answer.begin(), answer.begin() + 3), "ERR");
  std::vector<uint8_t> nothing;
  long n = 0;
  for (int i = 0; i < 30 && n >= 0; ++i) n = silent.ReceiveSome(nothing, 4096, 100);
  EXPECT_LT(n, 0);
  EXPECT_EQ(c.Read(Tag("X")).status, status::Good);
}
