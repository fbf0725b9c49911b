// The secure channel without sockets: two ends wired together in memory, and
// a real socket for the blocking client.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "opcua/client.h"
#include "opcua/transport.h"

using namespace opcua;

namespace {

struct Pair {
  SecureChannel client{SecureChannel::Role::Client};
  SecureChannel server;
  explicit Pair(const TransportLimits& serverLimits = TransportLimits(),
                const TransportLimits& clientLimits = TransportLimits())
      : client(SecureChannel::Role::Client, clientLimits), server(SecureChannel::Role::Server, serverLimits, 77) {}
  // Moves bytes until both ends are quiet.
  void Shuttle(DateTime now = DateTime::Now()) {
    for (int i = 0; i < 20 && (client.HasOutput() || server.HasOutput()); ++i) {
      auto c = client.TakeOutput();
      if (!c.empty()) server.Receive(c.data(), c.size(), now);
      auto s = server.TakeOutput();
      if (!s.empty()) client.Receive(s.data(), s.size(), now);
    }
  }
  void Open(uint32_t lifetime = 600000) {
    client.Connect("opc.tcp://localhost:4841/x", lifetime);
    Shuttle();
  }
};

std::vector<uint8_t> Frame(const char* type, char chunk, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> f(type, type + 3);
  f.push_back(static_cast<uint8_t>(chunk));
  const uint32_t size = static_cast<uint32_t>(8 + payload.size());
  for (int i = 0; i < 4; ++i) f.push_back(static_cast<uint8_t>(size >> (8 * i)));
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

std::vector<uint8_t> HelloBytes(uint32_t receive = 65536, uint32_t send = 65536) {
  tcp::Hello h;
  h.receiveBufferSize = receive;
  h.sendBufferSize = send;
  h.maxMessageSize = 1 << 20;
  h.maxChunkCount = 16;
  h.endpointUrl = String("opc.tcp://h:1");
  return Frame("HEL", 'F', EncodeToBytes(h));
}

StatusCode ErrorIn(const std::vector<uint8_t>& out) {
  if (out.size() < 12 || std::string(out.begin(), out.begin() + 3) != "ERR") return status::Good;
  return static_cast<uint32_t>(out[8]) | out[9] << 8 | out[10] << 16 | static_cast<uint32_t>(out[11]) << 24;
}

}  // namespace

TEST(SecureChannel, HelloOpenAndMessagesBothWays) {
  TransportLimits serverLimits;
  serverLimits.receiveBufferSize = 16384;
  Pair p(serverLimits);
  p.Open();
  ASSERT_TRUE(p.client.IsOpen());
  ASSERT_TRUE(p.server.IsOpen());
  EXPECT_EQ(p.client.channelId(), 77u);
  EXPECT_EQ(p.client.token().tokenId, p.server.token().tokenId);
  // The client sends no chunk larger than the server takes.
  EXPECT_EQ(p.client.sendChunkSize(), 16384u);
  EXPECT_EQ(p.server.receiveChunkSize(), 16384u);
  EXPECT_EQ(p.server.endpointUrl(), "opc.tcp://localhost:4841/x");

  const uint32_t id = p.client.SendRequest({1, 2, 3});
  ASSERT_NE(id, 0u);
  p.Shuttle();
  SecureChannel::Message m;
  ASSERT_TRUE(p.server.NextMessage(m));
  EXPECT_EQ(m.requestId, id);
  EXPECT_EQ(m.body, (std::vector<uint8_t>{1, 2, 3}));
  ASSERT_EQ(p.server.Send(id, {9}), status::Good);
  p.Shuttle();
  ASSERT_TRUE(p.client.NextMessage(m));
  EXPECT_EQ(m.requestId, id);
  EXPECT_EQ(m.body, std::vector<uint8_t>{9});
}

TEST(SecureChannel, LargeMessagesAreChunkedAndJoinedBothWays) {
  TransportLimits small;
  small.receiveBufferSize = small.sendBufferSize = 8192;
  Pair p(small, small);
  p.Open();
  std::vector<uint8_t> big(100000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
  const uint32_t id = p.client.SendRequest(big);
  ASSERT_NE(id, 0u);
  const auto wire = p.client.TakeOutput();
  EXPECT_GT(wire.size(), big.size() + 12 * 24);  // thirteen chunks with headers
  EXPECT_EQ(wire[3], 'C');
  p.server.Receive(wire.data(), wire.size());
  SecureChannel::Message m;
  ASSERT_TRUE(p.server.NextMessage(m));
  EXPECT_EQ(m.body, big);
  ASSERT_EQ(p.server.Send(m.requestId, big), status::Good);
  p.Shuttle();
  ASSERT_TRUE(p.client.NextMessage(m));
  EXPECT_EQ(m.body, big);
}

TEST(SecureChannel, LimitsOnMessageSizeAndChunkCount) {
  TransportLimits server;
  server.receiveBufferSize = server.sendBufferSize = 8192;
  server.maxChunkCount = 4;
  server.maxMessageSize = 30000;
  TransportLimits client = server;
  client.maxMessageSize = 20000;
  client.maxChunkCount = 0;  // the client accepts any count
  Pair p(server, client);
  p.Open();
  // The client knows the server's limits and refuses to send past them.
  EXPECT_EQ(p.client.SendRequest(std::vector<uint8_t>(40000)), 0u);
  // The server refuses to answer past the client's.
  EXPECT_EQ(p.server.Send(1, std::vector<uint8_t>(25000)), status::BadResponseTooLarge);
  EXPECT_TRUE(p.server.IsOpen());
}

TEST(SecureChannel, ServerDropsAPeerThatPassesItsLimits) {
  Pair p;
  p.Open();
  // A chunk claiming more than the negotiated buffer size.
  std::vector<uint8_t> frame = {'M', 'S', 'G', 'F', 0, 0, 0, 0x10};
  EXPECT_EQ(p.server.Receive(frame.data(), frame.size()), status::BadTcpMessageTooLarge);
  EXPECT_TRUE(p.server.IsClosed());
  EXPECT_EQ(ErrorIn(p.server.TakeOutput()), status::BadTcpMessageTooLarge);
}

TEST(SecureChannel, ServerRefusesGarbageBeforeAndAfterHello) {
  {
    SecureChannel s(SecureChannel::Role::Server);
    const std::vector<uint8_t> junk = {'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P'};
    EXPECT_EQ(s.Receive(junk.data(), junk.size()), status::BadTcpMessageTypeInvalid);
    EXPECT_TRUE(s.IsClosed());
  }
  {
    SecureChannel s(SecureChannel::Role::Server);
    const auto msg = Frame("MSG", 'F', std::vector<uint8_t>(20));
    EXPECT_NE(s.Receive(msg.data(), msg.size()), status::Good);
    EXPECT_TRUE(s.IsClosed());
  }
  {
    SecureChannel s(SecureChannel::Role::Server);
    const auto tiny = HelloBytes(1024, 1024);
    EXPECT_NE(s.Receive(tiny.data(), tiny.size()), status::Good);
  }
  {
    // A Hello cut in two arrives whole.
    SecureChannel s(SecureChannel::Role::Server);
    const auto hello = HelloBytes();
    EXPECT_EQ(s.Receive(hello.data(), 5), status::Good);
    EXPECT_EQ(s.Receive(hello.data() + 5, hello.size() - 5), status::Good);
    EXPECT_EQ(s.state(), SecureChannel::State::Acknowledged);
    const auto ack = s.TakeOutput();
    EXPECT_EQ(std::string(ack.begin(), ack.begin() + 3), "ACK");
    // A second Hello is a fault.
    EXPECT_NE(s.Receive(hello.data(), hello.size()), status::Good);
  }
}

TEST(SecureChannel, WrongChannelTokenOrSequenceEndsTheChannel) {
  for (int fault = 0; fault < 3; ++fault) {
    Pair p;
    p.Open();
    p.client.SendRequest({1});
    auto wire = p.client.TakeOutput();
    if (fault == 0) wire[8] ^= 1;   // channel id
    if (fault == 1) wire[12] ^= 1;  // token id
    if (fault == 2) wire[16] += 5;  // sequence number
    const StatusCode s = p.server.Receive(wire.data(), wire.size());
    EXPECT_EQ(s, fault == 0   ? status::BadTcpSecureChannelUnknown
                 : fault == 1 ? status::BadSecureChannelTokenUnknown
                              : status::BadSequenceNumberInvalid);
    EXPECT_TRUE(p.server.IsClosed());
  }
}

TEST(SecureChannel, TokenRenewalAndExpiry) {
  Pair p;
  const DateTime start = DateTime::Now();
  p.Open(10000);
  ASSERT_TRUE(p.client.IsOpen());
  EXPECT_EQ(p.server.token().revisedLifetime, 10000u);
  const uint32_t first = p.server.token().tokenId;
  // Before 75 % nothing happens; at 75 % the client renews.
  p.client.Tick(DateTime{start.ticks + 7000LL * 10000});
  EXPECT_FALSE(p.client.HasOutput());
  p.client.Tick(DateTime{start.ticks + 7600LL * 10000});
  ASSERT_TRUE(p.client.HasOutput());
  const DateTime renewedAt{start.ticks + 7600LL * 10000};
  p.Shuttle(renewedAt);
  EXPECT_NE(p.server.token().tokenId, first);
  EXPECT_EQ(p.client.token().tokenId, p.server.token().tokenId);
  EXPECT_EQ(p.server.tokensIssued(), 2u);
  // Messages under the new token go through.
  const uint32_t id = p.client.SendRequest({5});
  p.Shuttle(renewedAt);
  SecureChannel::Message m;
  ASSERT_TRUE(p.server.NextMessage(m));
  EXPECT_EQ(m.requestId, id);
  // A server closes a channel whose token ran out unrenewed.
  EXPECT_EQ(p.server.Tick(DateTime{renewedAt.ticks + 12000LL * 10000}), status::Good);
  EXPECT_NE(p.server.Tick(DateTime{renewedAt.ticks + 12600LL * 10000}), status::Good);
  EXPECT_TRUE(p.server.IsClosed());
}

TEST(SecureChannel, CloseSecureChannelAndErrorsFromTheServer) {
  Pair p;
  p.Open();
  p.client.Close();
  EXPECT_TRUE(p.client.IsClosed());
  auto wire = p.client.TakeOutput();
  EXPECT_EQ(std::string(wire.begin(), wire.begin() + 3), "CLO");
  p.server.Receive(wire.data(), wire.size());
  EXPECT_TRUE(p.server.IsClosed());
  EXPECT_EQ(p.server.closeReason(), status::Good);

  Pair q;
  q.Open();
  q.server.Abort(status::BadTcpServerTooBusy, "busy");
  q.Shuttle();
  EXPECT_TRUE(q.client.IsClosed());
  EXPECT_EQ(q.client.closeReason(), status::BadTcpServerTooBusy);
}

TEST(SecureChannel, AnAbortChunkDropsTheMessageBeingJoined) {
  TransportLimits small;
  small.receiveBufferSize = small.sendBufferSize = 8192;
  Pair p(small, small);
  p.Open();
  p.client.SendRequest(std::vector<uint8_t>(20000, 1));
  auto wire = p.client.TakeOutput();
  // Keep the first chunk, turn the second into an abort, drop the rest.
  const uint32_t first = wire[4] | wire[5] << 8 | wire[6] << 16;
  std::vector<uint8_t> cut(wire.begin(), wire.begin() + first * 2);
  cut[first + 3] = 'A';
  EXPECT_EQ(p.server.Receive(cut.data(), cut.size()), status::Good);
  SecureChannel::Message m;
  EXPECT_FALSE(p.server.NextMessage(m));
  EXPECT_TRUE(p.server.IsOpen());
}

// The blocking client over a real socket, against a server end run here on a
// thread.
TEST(ClientConnection, CallsOverALoopbackSocket) {
  std::string error;
  Socket listener = Socket::Listen("127.0.0.1", 0, &error);
  ASSERT_TRUE(listener.valid()) << error;
  const uint16_t port = listener.LocalPort();
  std::atomic<bool> stop{false};
  std::thread server([&] {
    Socket peer;
    for (int i = 0; i < 500 && !peer.valid() && !stop; ++i) {
      peer = listener.Accept();
      if (!peer.valid()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!peer.valid()) return;
    SecureChannel channel(SecureChannel::Role::Server);
    while (!stop && !channel.IsClosed()) {
      std::vector<uint8_t> in;
      const long n = peer.ReceiveSome(in, 65536, 50);
      if (n < 0) break;
      if (n > 0) channel.Receive(in.data(), in.size());
      SecureChannel::Message m;
      while (channel.NextMessage(m)) {
        uint32_t handle = 0;
        PeekRequestHandle(m.body.data(), m.body.size(), handle);
        if (PeekMessageType(m.body) == GetEndpointsRequest::kBinaryEncodingId) {
          GetEndpointsResponse r;
          r.responseHeader.requestHandle = handle;
          EndpointDescription e;
          e.endpointUrl = String("opc.tcp://here:1");
          r.endpoints.push_back(e);
          channel.Send(m.requestId, EncodeMessage(r));
        } else {
          channel.Send(m.requestId, EncodeServiceFault(handle, status::BadServiceUnsupported));
        }
      }
      const auto out = channel.TakeOutput();
      if (!out.empty()) peer.SendAll(out.data(), out.size(), 1000);
    }
  });
  ClientConnection c;
  ASSERT_EQ(c.Connect("opc.tcp://127.0.0.1:" + std::to_string(port)), status::Good);
  GetEndpointsRequest req;
  GetEndpointsResponse resp;
  ASSERT_EQ(c.Call(req, resp), status::Good);
  ASSERT_EQ(resp.endpoints.size(), 1u);
  EXPECT_EQ(resp.endpoints[0].endpointUrl.str(), "opc.tcp://here:1");
  ReadRequest read;
  ReadResponse readResp;
  EXPECT_EQ(c.Call(read, readResp), status::BadServiceUnsupported);
  c.Close();
  stop = true;
  server.join();

  ClientConnection nobody;
  EXPECT_NE(nobody.Connect("opc.tcp://127.0.0.1:" + std::to_string(port), 500), status::Good);
  EXPECT_EQ(nobody.Connect("http://x", 500), status::BadTcpEndpointUrlInvalid);
}

TEST(Endpoint, UrlParsing) {
  std::string host, path;
  uint16_t port = 0;
  ASSERT_TRUE(ParseEndpointUrl("opc.tcp://plant-pc:4855/Plexmar", host, port, path));
  EXPECT_EQ(host, "plant-pc");
  EXPECT_EQ(port, 4855);
  EXPECT_EQ(path, "/Plexmar");
  ASSERT_TRUE(ParseEndpointUrl("opc.tcp://[::1]", host, port, path));
  EXPECT_EQ(host, "::1");
  EXPECT_EQ(port, 4840);
  EXPECT_FALSE(ParseEndpointUrl("opc.tcp://:4840", host, port, path));
  EXPECT_FALSE(ParseEndpointUrl("opc.tcp://h:99999", host, port, path));
  EXPECT_FALSE(ParseEndpointUrl("opc.tcp://h:x", host, port, path));
}
