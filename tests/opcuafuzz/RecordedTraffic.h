// The frames recorded between a node-opcua client and a node-opcua server
// (tests/opcua/fixtures), and the recorded client stream made fit for our
// own server fed without a socket: its session token, subscription ids and
// monitored item ids in place of the recorded ones, sequence numbers counted
// again. Shared by the fuzz seeds and their test.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "opcua/services.h"
#include "opcua/transport.h"
#include "serverkit/UaServer.h"

namespace opcuatest::recorded {

namespace fs = std::filesystem;
using namespace opcua;
using Bytes = std::vector<uint8_t>;


struct Frame {
  std::string name;
  bool toServer = false;
  Bytes bytes;
  std::string type() const { return std::string(bytes.begin(), bytes.begin() + 3); }
};

inline std::vector<Frame> Load(const fs::path& dir) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().extension() == ".bin") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  std::vector<Frame> frames;
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    Frame f;
    f.name = file.stem().string();
    f.toServer = f.name.find("-c2s-") != std::string::npos;
    f.bytes.assign(std::istreambuf_iterator<char>(in), {});
    if (f.bytes.size() >= 8) frames.push_back(std::move(f));
  }
  return frames;
}

// Where the sequence header of a secure chunk starts.
inline size_t SequenceAt(const Frame& f) {
  if (f.type() != "OPN") return 16;
  Decoder d(f.bytes);
  d.Skip(12);
  String policy;
  ByteString certificate, thumbprint;
  Decode(d, policy);
  Decode(d, certificate);
  Decode(d, thumbprint);
  return d.position();
}
inline bool Secure(const Frame& f) { return f.type() == "OPN" || f.type() == "MSG" || f.type() == "CLO"; }

inline void PutU32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// The body of a single-chunk frame.
inline Bytes BodyOf(const Frame& f) { return Bytes(f.bytes.begin() + static_cast<long>(SequenceAt(f) + 8), f.bytes.end()); }

// Frames whose chunks are joined into message bodies, for one direction.
inline std::vector<std::pair<std::string, Bytes>> Bodies(const std::vector<Frame>& frames, bool toServer) {
  std::vector<std::pair<std::string, Bytes>> bodies;
  Bytes joined;
  for (const Frame& f : frames) {
    if (f.toServer != toServer || !Secure(f)) continue;
    const Bytes part = BodyOf(f);
    joined.insert(joined.end(), part.begin(), part.end());
    if (f.bytes[3] == 'F') {
      bodies.emplace_back(f.name, std::move(joined));
      joined.clear();
    }
  }
  return bodies;
}

// The ids the recorded server handed out, and ours in their place: our
// server numbers subscriptions from 1 on each connection fed without a
// socket, and monitored items from 1 in each subscription.
struct Ids {
  std::map<uint32_t, uint32_t> subscriptions, items;
  uint32_t Sub(uint32_t recorded) const {
    auto it = subscriptions.find(recorded);
    return it == subscriptions.end() ? recorded : it->second;
  }
  uint32_t Item(uint32_t recorded) const {
    auto it = items.find(recorded);
    return it == items.end() ? recorded : it->second;
  }
};

template <class T, class Edit>
bool Rewrite(Bytes& body, Edit edit) {
  if (PeekMessageType(body) != T::kBinaryEncodingId) return false;
  T request;
  if (DecodeMessage(body, request) != status::Good) return false;
  edit(request);
  body = EncodeMessage(request);
  return true;
}

// A request body with our ids and session token for the recorded ones.
inline Bytes Patch(Bytes body, const NodeId& token, const Ids& ids) {
  Rewrite<CreateMonitoredItemsRequest>(body, [&](auto& q) { q.subscriptionId = ids.Sub(q.subscriptionId); }) ||
      Rewrite<ModifyMonitoredItemsRequest>(body, [&](auto& q) {
        q.subscriptionId = ids.Sub(q.subscriptionId);
        for (auto& m : q.itemsToModify) m.monitoredItemId = ids.Item(m.monitoredItemId);
      }) ||
      Rewrite<SetMonitoringModeRequest>(body, [&](auto& q) {
        q.subscriptionId = ids.Sub(q.subscriptionId);
        for (auto& m : q.monitoredItemIds) m = ids.Item(m);
      }) ||
      Rewrite<DeleteMonitoredItemsRequest>(body, [&](auto& q) {
        q.subscriptionId = ids.Sub(q.subscriptionId);
        for (auto& m : q.monitoredItemIds) m = ids.Item(m);
      }) ||
      Rewrite<ModifySubscriptionRequest>(body, [&](auto& q) { q.subscriptionId = ids.Sub(q.subscriptionId); }) ||
      Rewrite<SetPublishingModeRequest>(body, [&](auto& q) {
        for (auto& id : q.subscriptionIds) id = ids.Sub(id);
      }) ||
      Rewrite<DeleteSubscriptionsRequest>(body, [&](auto& q) {
        for (auto& id : q.subscriptionIds) id = ids.Sub(id);
      }) ||
      Rewrite<PublishRequest>(body, [&](auto& q) {
        for (auto& a : q.subscriptionAcknowledgements) a.subscriptionId = ids.Sub(a.subscriptionId);
      }) ||
      Rewrite<RepublishRequest>(body, [&](auto& q) { q.subscriptionId = ids.Sub(q.subscriptionId); });
  if (token.IsNull()) return body;
  // Every request body: type id, then the authentication token.
  Decoder d(body);
  NodeId type, recorded;
  if (!Decode(d, type)) return body;
  const size_t tokenAt = d.position();
  if (!Decode(d, recorded) || recorded.IsNull()) return body;
  const Bytes ours = EncodeToBytes(token);
  Bytes patched(body.begin(), body.begin() + static_cast<long>(tokenAt));
  patched.insert(patched.end(), ours.begin(), ours.end());
  patched.insert(patched.end(), body.begin() + static_cast<long>(d.position()), body.end());
  return patched;
}

// Client frames with our session token and ids, and sequence numbers from 1.
inline Bytes Stream(std::vector<Frame> frames, const NodeId& token, const Ids& ids = Ids()) {
  Bytes out;
  uint32_t sequence = 1;
  for (Frame& f : frames) {
    if (Secure(f)) {
      const size_t at = SequenceAt(f);
      PutU32(f.bytes, at, sequence++);
      if (f.type() == "MSG" && f.bytes[3] == 'F') {
        const Bytes body = Patch(BodyOf(f), token, ids);
        f.bytes.resize(at + 8);
        f.bytes.insert(f.bytes.end(), body.begin(), body.end());
        PutU32(f.bytes, 4, static_cast<uint32_t>(f.bytes.size()));
      }
    }
    out.insert(out.end(), f.bytes.begin(), f.bytes.end());
  }
  return out;
}

// The recorded server's subscription and monitored item ids, in the order
// it gave them out.
inline Ids RecordedIds(const std::vector<Frame>& frames) {
  Ids ids;
  uint32_t nextSubscription = 1;
  std::map<uint32_t, uint32_t> itemsPerSubscription;
  std::map<uint32_t, uint32_t> requestSubscription;  // request id -> recorded subscription
  for (const Frame& f : frames) {
    if (f.type() != "MSG" || f.bytes[3] != 'F') continue;
    const Bytes body = BodyOf(f);
    Decoder header(f.bytes);
    header.Skip(20);
    uint32_t requestId = 0;
    header.U32(requestId);
    if (f.toServer) {
      CreateMonitoredItemsRequest q;
      if (DecodeMessage(body, q) == status::Good) requestSubscription[requestId] = q.subscriptionId;
      continue;
    }
    CreateSubscriptionResponse cs;
    if (DecodeMessage(body, cs) == status::Good && IsGood(cs.responseHeader.serviceResult))
      ids.subscriptions.emplace(cs.subscriptionId, nextSubscription++);
    CreateMonitoredItemsResponse cm;
    if (DecodeMessage(body, cm) == status::Good) {
      const uint32_t ours = ids.Sub(requestSubscription[requestId]);
      for (const auto& r : cm.results)
        if (IsGood(r.statusCode)) ids.items.emplace(r.monitoredItemId, ++itemsPerSubscription[ours]);
    }
  }
  return ids;
}

// The token our server gives the first session of a connection fed without
// a socket: asked of it with the recorded start of the session.
inline NodeId OurToken(const std::vector<Frame>& start) {
  serverkit::ua::Server server;
  const Bytes stream = Stream(start, NodeId());
  const Bytes answers = server.FeedUnconnected(stream.data(), stream.size(), 1u << 20);
  std::vector<Frame> frames;
  size_t pos = 0;
  while (pos + 8 <= answers.size()) {
    const uint32_t size = answers[pos + 4] | answers[pos + 5] << 8 | answers[pos + 6] << 16 |
                          static_cast<uint32_t>(answers[pos + 7]) << 24;
    if (size < 8 || pos + size > answers.size()) break;
    Frame f;
    f.bytes.assign(answers.begin() + static_cast<long>(pos), answers.begin() + static_cast<long>(pos + size));
    frames.push_back(std::move(f));
    pos += size;
  }
  for (const auto& [name, body] : Bodies(frames, false)) {
    if (PeekMessageType(body) != CreateSessionResponse::kBinaryEncodingId) continue;
    CreateSessionResponse r;
    if (DecodeMessage(body, r) == status::Good) return r.authenticationToken;
  }
  return NodeId();
}

// The recorded client frames, and of them those that open a session
// (Hello, OpenSecureChannel, CreateSession, ActivateSession).
inline std::vector<Frame> Requests(const std::vector<Frame>& frames) {
  std::vector<Frame> requests;
  for (const Frame& f : frames)
    if (f.toServer) requests.push_back(f);
  return requests;
}
inline bool Opens(const Frame& f) {
  const uint32_t type = f.type() == "MSG" ? PeekMessageType(BodyOf(f)) : 0;
  return f.type() == "HEL" || f.type() == "OPN" || type == CreateSessionRequest::kBinaryEncodingId ||
         type == ActivateSessionRequest::kBinaryEncodingId;
}

// The session token our server hands out, asked of it with the recorded
// Hello, OpenSecureChannel and CreateSession.
inline NodeId OurSessionToken(const std::vector<Frame>& frames) {
  std::vector<Frame> start;
  for (const Frame& f : Requests(frames))
    if (Opens(f) && start.size() < 3) start.push_back(f);
  return OurToken(start);
}

}  // namespace opcuatest::recorded
