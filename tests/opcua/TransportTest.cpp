// UA TCP and secure conversation between two SecureChannel ends wired in
// memory: negotiation, chunking both ways, token renewal and expiry, and the
// faults that end a channel.
#include <gtest/gtest.h>

#include "opcua/services.h"
#include "opcua/socket.h"
#include "opcua/transport.h"

using namespace opcua;

namespace {

// Moves bytes both ways until neither end has anything to say.
void Exchange(SecureChannel& client, SecureChannel& server, DateTime now = DateTime::Now()) {
  for (int i = 0; i < 20 && (client.HasOutput() || server.HasOutput()); ++i) {
    auto up = client.TakeOutput();
    if (!up.empty()) server.Receive(up.data(), up.size(), now);
    auto down = server.TakeOutput();
    if (!down.empty()) client.Receive(down.data(), down.size(), now);
  }
}

TransportLimits Small() {
  TransportLimits l;
  l.receiveBufferSize = l.sendBufferSize = 8192;
  return l;
}

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + 3);
  return v;
}

}  // namespace

TEST(OpcuaTransport, HelloNegotiatesSizesAndOpenIssuesAToken) {
  TransportLimits big;
  big.receiveBufferSize = big.sendBufferSize = 1 << 20;
  SecureChannel client(SecureChannel::Role::Client, Small());
  SecureChannel server(SecureChannel::Role::Server, big, 42);
  client.Connect("opc.tcp://host:48400", 60000);
  Exchange(client, server);
  ASSERT_TRUE(client.IsOpen());
  ASSERT_TRUE(server.IsOpen());
  EXPECT_EQ(server.sendChunkSize(), 8192u);
  EXPECT_EQ(server.receiveChunkSize(), 8192u);
  EXPECT_EQ(client.channelId(), 42u);
  EXPECT_EQ(client.token().tokenId, server.token().tokenId);
  EXPECT_EQ(server.token().revisedLifetime, 60000u);
  EXPECT_EQ(server.endpointUrl(), "opc.tcp://host:48400");
}

TEST(OpcuaTransport, LargeMessagesAreChunkedAndJoinedBothWays) {
  SecureChannel client(SecureChannel::Role::Client, Small());
  SecureChannel server(SecureChannel::Role::Server, Small(), 1);
  client.Connect("opc.tcp://h:1");
  Exchange(client, server);
  const auto request = Pattern(50000);
  const uint32_t id = client.SendRequest(request);
  ASSERT_NE(id, 0u);
  const auto wire = client.TakeOutput();
  EXPECT_GT(wire.size(), request.size() + 6 * 24);  // several chunks, each with headers
  EXPECT_EQ(wire[3], 'C');
  ASSERT_EQ(server.Receive(wire.data(), wire.size()), status::Good);
  SecureChannel::Message m;
  ASSERT_TRUE(server.NextMessage(m));
  EXPECT_EQ(m.requestId, id);
  EXPECT_EQ(m.body, request);
  const auto response = Pattern(70001);
  ASSERT_EQ(server.Send(id, response), status::Good);
  Exchange(client, server);
  ASSERT_TRUE(client.NextMessage(m));
  EXPECT_EQ(m.body, response);
}

TEST(OpcuaTransport, MessagesPastThePeerLimitsAreRefused) {
  TransportLimits limits = Small();
  limits.maxChunkCount = 3;
  limits.maxMessageSize = 20000;
  SecureChannel client(SecureChannel::Role::Client, Small());
  SecureChannel server(SecureChannel::Role::Server, limits, 1);
  client.Connect("opc.tcp://h:1");
  Exchange(client, server);
  // The client learnt the server's limits from Acknowledge.
  EXPECT_EQ(client.SendRequest(Pattern(30000)), 0u);
  // A client that ignores them is dropped with an Error.
  SecureChannel rude(SecureChannel::Role::Client, Small());
  SecureChannel server2(SecureChannel::Role::Server, limits, 1);
  rude.Connect("opc.tcp://h:1");
  auto hello = rude.TakeOutput();
  // Forge a Hello without limits so the client sends freely.
  hello[20] = hello[21] = hello[22] = hello[23] = 0;
  hello[24] = hello[25] = hello[26] = hello[27] = 0;
  server2.Receive(hello.data(), hello.size());
  auto ack = server2.TakeOutput();
  ack[20] = ack[21] = ack[22] = ack[23] = 0;  // maxMessageSize 0
  ack[24] = ack[25] = ack[26] = ack[27] = 0;  // maxChunkCount 0
  rude.Receive(ack.data(), ack.size());
  Exchange(rude, server2);
  ASSERT_TRUE(server2.IsOpen());
  rude.SendRequest(Pattern(30000));
  auto flood = rude.TakeOutput();
  EXPECT_EQ(server2.Receive(flood.data(), flood.size()), status::BadTcpMessageTooLarge);
  EXPECT_TRUE(server2.IsClosed());
  auto error = server2.TakeOutput();
  ASSERT_GE(error.size(), 12u);
  EXPECT_EQ(std::string(error.begin(), error.begin() + 4), "ERRF");
}

TEST(OpcuaTransport, RenewKeepsTheChannelAndExpiryEndsIt) {
  SecureChannel client(SecureChannel::Role::Client, Small());
  SecureChannel server(SecureChannel::Role::Server, Small(), 9);
  const DateTime t0 = DateTime::Now();
  client.Connect("opc.tcp://h:1", 10000);
  Exchange(client, server, t0);
  const uint32_t first = server.token().tokenId;
  // At 80 % of the lifetime the client renews.
  const DateTime t1{t0.ticks + 8000 * 10000LL};
  client.Tick(t1);
  ASSERT_TRUE(client.HasOutput());
  Exchange(client, server, t1);
  EXPECT_NE(server.token().tokenId, first);
  EXPECT_EQ(client.token().tokenId, server.token().tokenId);
  EXPECT_EQ(server.tokensIssued(), 2u);
  ASSERT_NE(client.SendRequest(Pattern(10)), 0u);
  Exchange(client, server, t1);
  SecureChannel::Message m;
  EXPECT_TRUE(server.NextMessage(m));
  // Without another renewal the server gives up after 125 %.
  EXPECT_EQ(server.Tick(DateTime{t1.ticks + 12000 * 10000LL}), status::Good);
  EXPECT_NE(server.Tick(DateTime{t1.ticks + 13000 * 10000LL}), status::Good);
  EXPECT_TRUE(server.IsClosed());
}

TEST(OpcuaTransport, FaultsEndTheChannelAtTheFirstBadByte) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    StatusCode expected;
  };
  auto frame = [](const char* type, std::vector<uint8_t> payload) {
    std::vector<uint8_t> out(type, type + 4);
    const uint32_t size = static_cast<uint32_t>(payload.size() + 8);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(size >> (8 * i)));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
  };
  const std::vector<Case> cases = {
      {"garbage", {'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P'}, status::BadTcpMessageTypeInvalid},
      {"huge length", {'H', 'E', 'L', 'F', 0xFF, 0xFF, 0xFF, 0x7F}, status::BadTcpMessageTooLarge},
      {"message before hello", frame("MSGF", std::vector<uint8_t>(24, 0)), status::BadTcpMessageTypeInvalid},
      {"truncated hello", frame("HELF", {0, 0, 0, 0, 0, 0x20}), status::BadDecodingError},
      {"tiny buffers", frame("HELF", EncodeToBytes(tcp::Hello{0, 100, 100, 0, 0, String("opc.tcp://x")})),
       status::BadConnectionRejected},
  };
  for (const Case& c : cases) {
    SecureChannel server(SecureChannel::Role::Server, Small(), 1);
    EXPECT_EQ(server.Receive(c.bytes.data(), c.bytes.size()), c.expected) << c.what;
    EXPECT_TRUE(server.IsClosed()) << c.what;
  }

  // A replayed chunk breaks the sequence.
  SecureChannel client(SecureChannel::Role::Client, Small());
  SecureChannel server(SecureChannel::Role::Server, Small(), 1);
  client.Connect("opc.tcp://h:1");
  Exchange(client, server);
  client.SendRequest(Pattern(10));
  auto once = client.TakeOutput();
  ASSERT_EQ(server.Receive(once.data(), once.size()), status::Good);
  EXPECT_EQ(server.Receive(once.data(), once.size()), status::BadSequenceNumberInvalid);
}

TEST(OpcuaTransport, CloseSecureChannelEndsItQuietly) {
  SecureChannel client(SecureChannel::Role::Client, Small());
  SecureChannel server(SecureChannel::Role::Server, Small(), 1);
  client.Connect("opc.tcp://h:1");
  Exchange(client, server);
  client.Close();
  auto bye = client.TakeOutput();
  EXPECT_EQ(std::string(bye.begin(), bye.begin() + 4), "CLOF");
  server.Receive(bye.data(), bye.size());
  EXPECT_TRUE(server.IsClosed());
  EXPECT_FALSE(server.HasOutput());
}

TEST(OpcuaTransport, EndpointUrls) {
  std::string host, path;
  uint16_t port = 0;
  ASSERT_TRUE(ParseEndpointUrl("opc.tcp://plant-pc:48010/UA", host, port, path));
  EXPECT_EQ(host, "plant-pc");
  EXPECT_EQ(port, 48010);
  EXPECT_EQ(path, "/UA");
  ASSERT_TRUE(ParseEndpointUrl("opc.tcp://[::1]", host, port, path));
  EXPECT_EQ(host, "::1");
  EXPECT_EQ(port, 4840);
  EXPECT_FALSE(ParseEndpointUrl("http://x:1", host, port, path));
  EXPECT_FALSE(ParseEndpointUrl("opc.tcp://:1", host, port, path));
  EXPECT_FALSE(ParseEndpointUrl("opc.tcp://x:99999", host, port, path));
}
