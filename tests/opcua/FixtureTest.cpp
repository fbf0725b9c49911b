// Frames recorded from a node-opcua client talking to a node-opcua server
// (tests/opcua/peer/record-fixtures.js): every Hello, Acknowledge and service
// message decodes, and encodes back to the very bytes node-opcua sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "MessageCatalog.h"
#include "opcua/services.h"
#include "opcua/transport.h"

using namespace opcua;
namespace fs = std::filesystem;

namespace {

struct Frame {
  std::string file;
  std::string direction;  // c2s or s2c
  std::vector<uint8_t> bytes;
};

std::vector<Frame> LoadFrames() {
  std::vector<Frame> frames;
  const fs::path dir = fs::path(PLEXMAR_SOURCE_DIR) / "tests/opcua/fixtures";
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().extension() == ".bin") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    Frame f;
    f.file = file.filename().string();
    f.direction = f.file.substr(4, 3);
    f.bytes.assign(std::istreambuf_iterator<char>(in), {});
    frames.push_back(std::move(f));
  }
  return frames;
}

// A decoded service message with what identifies it.
struct Body {
  std::string file;
  std::vector<uint8_t> bytes;
};

// Joins the chunks of each direction into message bodies, checking the
// secure conversation headers on the way.
std::vector<Body> Bodies(const std::vector<Frame>& frames) {
  std::vector<Body> bodies;
  std::map<std::string, std::vector<uint8_t>> partial;
  for (const Frame& f : frames) {
    const std::string type(f.bytes.begin(), f.bytes.begin() + 3);
    if (type != "OPN" && type != "MSG" && type != "CLO") continue;
    Decoder d(f.bytes);
    d.Skip(8);
    uint32_t channelId = 0, tokenId = 0, sequence = 0, requestId = 0;
    d.U32(channelId);
    if (type == "OPN") {
      String policy;
      ByteString certificate, thumbprint;
      Decode(d, policy);
      Decode(d, certificate);
      Decode(d, thumbprint);
      EXPECT_EQ(policy.str(), kSecurityPolicyNone) << f.file;
    } else {
      d.U32(tokenId);
    }
    d.U32(sequence);
    d.U32(requestId);
    EXPECT_TRUE(d.ok()) << f.file;
    auto& joined = partial[f.direction];
    joined.insert(joined.end(), d.Peek(), d.Peek() + d.remaining());
    if (f.bytes[3] == 'F') {
      bodies.push_back({f.file, std::move(joined)});
      joined.clear();
    }
  }
  return bodies;
}

}  // namespace

TEST(OpcuaFixtures, HelloAndAcknowledgeRoundTrip) {
  const auto frames = LoadFrames();
  ASSERT_GT(frames.size(), 20u) << "fixtures missing: run tests/opcua/peer/record-fixtures.js";
  int seen = 0;
  for (const Frame& f : frames) {
    const std::vector<uint8_t> payload(f.bytes.begin() + 8, f.bytes.end());
    const std::string type(f.bytes.begin(), f.bytes.begin() + 3);
    if (type == "HEL") {
      tcp::Hello hello;
      ASSERT_EQ(DecodeFromBytes(payload.data(), payload.size(), hello), status::Good);
      EXPECT_EQ(EncodeToBytes(hello), payload);
      EXPECT_GE(hello.receiveBufferSize, tcp::kMinBufferSize);
      EXPECT_EQ(hello.endpointUrl.str().rfind("opc.tcp://", 0), 0u);
      ++seen;
    } else if (type == "ACK") {
      tcp::Acknowledge ack;
      ASSERT_EQ(DecodeFromBytes(payload.data(), payload.size(), ack), status::Good);
      EXPECT_EQ(EncodeToBytes(ack), payload);
      ++seen;
    }
  }
  EXPECT_EQ(seen, 2);
}

TEST(OpcuaFixtures, EveryServiceMessageDecodesAndEncodesToTheSameBytes) {
  const auto bodies = Bodies(LoadFrames());
  std::set<std::string> kinds;
  for (const Body& b : bodies) {
    const uint32_t type = PeekMessageType(b.bytes);
    auto it = opcuatest::Catalog().find(type);
    ASSERT_NE(it, opcuatest::Catalog().end()) << b.file << " holds unknown type " << type;
    std::vector<uint8_t> again;
    ASSERT_EQ(it->second.roundTrip(b.bytes, again), status::Good) << b.file << " " << it->second.name;
    EXPECT_EQ(again, b.bytes) << b.file << " " << it->second.name;
    kinds.insert(it->second.name);
  }
  // The recording covers the services the server offers.
  for (const char* name : {"OpenSecureChannelRequest", "GetEndpointsResponse", "CreateSessionResponse",
                           "ActivateSessionRequest", "BrowseResponse", "TranslateBrowsePathsToNodeIdsResponse",
                           "ReadResponse", "WriteRequest", "CreateMonitoredItemsRequest", "PublishResponse",
                           "RegisterNodesRequest", "CloseSessionRequest"})
    EXPECT_TRUE(kinds.count(name)) << name;
}

TEST(OpcuaFixtures, ValuesReadFromNodeOpcuaAreTheOnesItServed) {
  const auto bodies = Bodies(LoadFrames());
  bool found = false;
  for (const Body& b : bodies) {
    if (PeekMessageType(b.bytes) != ReadResponse::kBinaryEncodingId) continue;
    ReadResponse r;
    ASSERT_EQ(DecodeMessage(b.bytes, r), status::Good);
    if (r.results.size() != 8) continue;
    found = true;
    EXPECT_EQ(r.results[0].value.Values<BuiltinType::Boolean>()[0], true);
    EXPECT_EQ(r.results[1].value.Values<BuiltinType::Int16>()[0], -12);
    EXPECT_EQ(r.results[2].value.Values<BuiltinType::Int32>()[0], 123456);
    EXPECT_EQ(r.results[3].value.Values<BuiltinType::Float>()[0], 2.5f);
    EXPECT_EQ(r.results[4].value.Values<BuiltinType::Double>()[0], 1013.25);
    EXPECT_EQ(r.results[5].value.Values<BuiltinType::String>()[0].str(), "Pump 1");
    EXPECT_EQ(r.results[6].value.Values<BuiltinType::Byte>()[0], 200);
    ASSERT_TRUE(r.results[7].value.IsArray());
    EXPECT_EQ(r.results[7].value.Values<BuiltinType::Double>(), (std::vector<double>{1, 2, 3, 4}));
    for (const DataValue& v : r.results) EXPECT_TRUE(IsGood(v.status));
  }
  EXPECT_TRUE(found);
}

TEST(OpcuaFixtures, NodeOpcuaStreamRunsThroughAServerChannel) {
  // The whole recorded client stream, fed to a server end in odd slices,
  // yields every request the client sent. The server end takes the channel
  // id the recorded server gave.
  const auto frames = LoadFrames();
  uint32_t channelId = 0;
  size_t requests = 0;
  for (const Frame& f : frames) {
    if (f.direction == "s2c" && f.file.find("OPN") != std::string::npos && channelId == 0) {
      Decoder d(f.bytes);
      d.Skip(8);
      d.U32(channelId);
    }
    if (f.direction == "c2s" && f.file.find("MSG") != std::string::npos && f.bytes[3] == 'F') ++requests;
  }
  std::ifstream in(fs::path(PLEXMAR_SOURCE_DIR) / "tests/opcua/corpus/session-c2s.bin", std::ios::binary);
  const std::vector<uint8_t> stream(std::istreambuf_iterator<char>(in), {});
  ASSERT_FALSE(stream.empty());
  SecureChannel server(SecureChannel::Role::Server, TransportLimits(), channelId);
  size_t pos = 0, slice = 1, got = 0;
  while (pos < stream.size() && !server.IsClosed()) {
    const size_t n = std::min(slice, stream.size() - pos);
    EXPECT_EQ(server.Receive(stream.data() + pos, n), status::Good);
    pos += n;
    slice = slice * 3 % 997 + 1;
    SecureChannel::Message m;
    while (server.NextMessage(m)) {
      ++got;
      EXPECT_NE(opcuatest::Catalog().count(PeekMessageType(m.body)), 0u);
    }
  }
  EXPECT_EQ(got, requests);
  EXPECT_TRUE(server.IsClosed());  // the stream ends with CloseSecureChannel
}
