// The fuzz targets' seeds reach deep only while our server and client answer
// the recorded node-opcua traffic as they do today: the recorded client
// stream, fit for our server, gets an answer to every service it asks for,
// and the scripted server answering with the recorded responses serves the
// client toolkit through discovery and a session.
#include <gtest/gtest.h>

#include <map>

#include "RecordedTraffic.h"
#include "ScriptedServer.h"
#include "clientkit/clientkit.h"
#include "serverkit/serverkit.h"

using namespace opcuatest::recorded;

namespace {

std::vector<Frame> Recorded() { return Load(fs::path(PLEXMAR_SOURCE_DIR) / "tests/opcua/fixtures"); }

// Our server's answers as message bodies.
std::vector<Bytes> Answers(const Bytes& out) {
  std::vector<Frame> frames;
  size_t pos = 0;
  while (pos + 8 <= out.size()) {
    const uint32_t size = out[pos + 4] | out[pos + 5] << 8 | out[pos + 6] << 16 | static_cast<uint32_t>(out[pos + 7]) << 24;
    if (size < 8 || pos + size > out.size()) break;
    Frame f;
    f.bytes.assign(out.begin() + static_cast<long>(pos), out.begin() + static_cast<long>(pos + size));
    frames.push_back(std::move(f));
    pos += size;
  }
  std::vector<Bytes> bodies;
  for (auto& [name, body] : Bodies(frames, false)) bodies.push_back(std::move(body));
  return bodies;
}

}  // namespace

TEST(OpcuaFuzzSeeds, TheRecordedSessionGetsAnAnswerToEveryServiceItAsks) {
  const std::vector<Frame> frames = Recorded();
  ASSERT_GT(frames.size(), 20u);
  const NodeId token = OurSessionToken(frames);
  ASSERT_FALSE(token.IsNull());
  EXPECT_EQ(OurSessionToken(frames), token);  // the same on every call

  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = 7;
  const int32_t tag = CreateServerTag("Count", v, 0xC0, 1);
  serverkit::ua::Server server;
  const Bytes stream = Stream(Requests(frames), token, RecordedIds(frames));
  std::map<uint32_t, int> kinds;
  for (const Bytes& body : Answers(server.FeedUnconnected(stream.data(), stream.size(), 1u << 22))) {
    const uint32_t type = PeekMessageType(body);
    ++kinds[type];
    if (type == ServiceFault::kBinaryEncodingId) {
      ServiceFault fault;
      ASSERT_EQ(DecodeMessage(body, fault), status::Good);
      ADD_FAILURE() << "ServiceFault " << std::hex << fault.responseHeader.serviceResult;
    }
    if (type == CreateMonitoredItemsResponse::kBinaryEncodingId) {
      CreateMonitoredItemsResponse r;
      ASSERT_EQ(DecodeMessage(body, r), status::Good);
      ASSERT_FALSE(r.results.empty());
      EXPECT_EQ(r.results[0].statusCode, status::Good);
    }
  }
  for (uint32_t type : {GetEndpointsResponse::kBinaryEncodingId, FindServersResponse::kBinaryEncodingId,
                        CreateSessionResponse::kBinaryEncodingId, ActivateSessionResponse::kBinaryEncodingId,
                        BrowseResponse::kBinaryEncodingId, TranslateBrowsePathsToNodeIdsResponse::kBinaryEncodingId,
                        ReadResponse::kBinaryEncodingId, WriteResponse::kBinaryEncodingId,
                        RegisterNodesResponse::kBinaryEncodingId, UnregisterNodesResponse::kBinaryEncodingId,
                        CreateSubscriptionResponse::kBinaryEncodingId, CreateMonitoredItemsResponse::kBinaryEncodingId,
                        PublishResponse::kBinaryEncodingId, DeleteMonitoredItemsResponse::kBinaryEncodingId,
                        DeleteSubscriptionsResponse::kBinaryEncodingId})
    EXPECT_GT(kinds[type], 0) << type;
  RemoveServerTag(tag);
}

TEST(OpcuaFuzzSeeds, TheRecordedAnswersServeTheClientToolkit) {
  std::vector<opcuatest::ScriptedServer::Record> records;
  for (auto& [name, body] : Bodies(Recorded(), false))
    if (PeekMessageType(body) != OpenSecureChannelResponse::kBinaryEncodingId) records.push_back({0, body});
  opcuatest::ScriptedServer server(records);
  ASSERT_EQ(ClientCountServers(1, "opc.tcp://fuzz.invalid:4840"), 1);
  char name[128];
  ClientGetServerName(0, name, sizeof name);
  EXPECT_STRNE(name, "");
  const int32_t h = ClientConnectServer("", "opc.tcp://fuzz.invalid:4840", 0);
  ASSERT_GE(h, 0);
  EXPECT_EQ(ClientBrowseTo(h, ""), 1);
  ClientDisconnectServer(h);
  const std::vector<uint32_t> asked = server.requests();
  for (uint32_t type : {FindServersRequest::kBinaryEncodingId, GetEndpointsRequest::kBinaryEncodingId,
                        CreateSessionRequest::kBinaryEncodingId, ActivateSessionRequest::kBinaryEncodingId,
                        BrowseRequest::kBinaryEncodingId, CloseSessionRequest::kBinaryEncodingId})
    EXPECT_NE(std::find(asked.begin(), asked.end(), type), asked.end()) << type;
}
