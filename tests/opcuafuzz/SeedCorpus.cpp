// Writes the first inputs of the three OPC UA fuzz targets from the frames
// recorded between a node-opcua client and a node-opcua server
// (tests/opcua/fixtures):
//   messages/  every recorded message body, each direction;
//   server/    the recorded client stream, whole and as one session per
//              request (Hello, OpenSecureChannel, CreateSession,
//              ActivateSession, the request, CloseSecureChannel), with the
//              recorded session token replaced by the one our server hands
//              out to a connection fed without a socket, its subscription
//              and monitored item ids for the recorded ones, and the
//              sequence numbers counted again;
//   client/    scripts for ScriptedServer: the recorded answers in order,
//              once with the recorded Acknowledge and OpenSecureChannel
//              frames and a recorded frame out of place.
#include <cstdio>

#include "RecordedTraffic.h"
#include "ScriptedServer.h"

namespace {

using namespace opcuatest::recorded;

bool Write(const fs::path& file, const Bytes& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FIXTURES OUTPUT\n", argv[0]);
    return 2;
  }
  const std::vector<Frame> frames = Load(argv[1]);
  const fs::path out = argv[2];
  for (const char* dir : {"messages", "server", "client"}) fs::create_directories(out / dir);

  // messages
  for (bool toServer : {true, false})
    for (const auto& [name, body] : Bodies(frames, toServer))
      if (!Write(out / "messages" / (name + ".bin"), body)) return 1;

  // server
  const std::vector<Frame> requests = Requests(frames);
  std::vector<Frame> start, rest;
  const Frame* close = nullptr;
  for (const Frame& f : requests) {
    if (Opens(f)) start.push_back(f);
    else if (f.type() == "MSG") rest.push_back(f);
    else if (f.type() == "CLO") close = &f;
  }
  const NodeId token = OurSessionToken(frames);
  if (token.IsNull()) {
    std::fprintf(stderr, "%s: our server gave no session token\n", argv[0]);
    return 1;
  }
  const Ids ids = RecordedIds(frames);
  if (!Write(out / "server" / "session.bin", Stream(requests, token, ids))) return 1;
  if (!Write(out / "server" / "session-recorded-token.bin", Stream(requests, NodeId()))) return 1;
  for (const Frame& f : rest) {
    std::vector<Frame> one = start;
    one.push_back(f);
    if (close != nullptr) one.push_back(*close);
    if (!Write(out / "server" / (f.name + ".bin"), Stream(one, token, ids))) return 1;
  }

  // client
  using Record = opcuatest::ScriptedServer::Record;
  std::vector<Record> answers;
  for (const auto& [name, body] : Bodies(frames, false)) {
    if (PeekMessageType(body) == OpenSecureChannelResponse::kBinaryEncodingId) continue;
    answers.push_back({0, body});
  }
  if (!Write(out / "client" / "answers.bin", opcuatest::ScriptedServer::Serialize(answers))) return 1;
  std::vector<Record> framed;
  const Frame* stray = nullptr;
  for (const Frame& f : frames) {
    if (f.toServer) continue;
    if (f.type() == "ACK") framed.push_back({2, f.bytes});
    if (f.type() == "OPN") framed.push_back({3, f.bytes});
    if (f.type() == "MSG" && stray == nullptr) stray = &f;
  }
  if (stray != nullptr) framed.push_back({1, stray->bytes});
  framed.insert(framed.end(), answers.begin(), answers.end());
  if (!Write(out / "client" / "framed.bin", opcuatest::ScriptedServer::Serialize(framed))) return 1;
  return 0;
}
