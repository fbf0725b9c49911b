// A stand-in OPC UA server for the client side: every connection the client
// makes (through opcua::SetSocketConnector) gets one end of a socket pair,
// and a thread on the other end answers each request from a script.
//
// The script is a list of records, each one byte of kind (its low two bits),
// a 16-bit little-endian length and that many bytes:
//   0  a response body (type id included): it answers the next request whose
//      response has that type; a ServiceFault body answers any request;
//   1  bytes written as they are just before the next answer (damaged
//      chunks, stray frames, Error messages);
//   2  the whole Acknowledge frame, in place of the one this server makes;
//   3  the whole OpenSecureChannel response frame, in place of this server's.
// A request with no answer left gets a ServiceFault, except Publish, which
// waits as a real server's would. The framing of answers (channel, token,
// sequence number, request id, chunks of 8192 bytes) is this server's. A
// connection on which the client says nothing for kIdleMs is closed.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "opcua/client.h"
#include "opcua/services.h"
#include "opcua/transport.h"

namespace opcuatest {

class ScriptedServer {
 public:
  static constexpr uint32_t kChunkSize = 8192;
  static constexpr int kIdleMs = 100;

  struct Record {
    uint8_t kind = 0;
    std::vector<uint8_t> bytes;
  };

  // Splits `data` into records; a short last record takes what is left.
  static std::vector<Record> Parse(const uint8_t* data, size_t size) {
    std::vector<Record> records;
    size_t pos = 0;
    while (pos + 3 <= size) {
      Record r;
      r.kind = data[pos] & 3;
      const size_t n = std::min<size_t>(data[pos + 1] | data[pos + 2] << 8, size - pos - 3);
      r.bytes.assign(data + pos + 3, data + pos + 3 + n);
      pos += 3 + n;
      records.push_back(std::move(r));
    }
    return records;
  }
  // The script form of `records`, for writing seeds and tests.
  static std::vector<uint8_t> Serialize(const std::vector<Record>& records) {
    std::vector<uint8_t> out;
    for (const Record& r : records) {
      const size_t n = std::min<size_t>(r.bytes.size(), 0xFFFF);
      out.push_back(r.kind);
      out.push_back(static_cast<uint8_t>(n));
      out.push_back(static_cast<uint8_t>(n >> 8));
      out.insert(out.end(), r.bytes.begin(), r.bytes.begin() + static_cast<std::ptrdiff_t>(n));
    }
    return out;
  }

  explicit ScriptedServer(std::vector<Record> records) {
    for (Record& r : records) {
      if (r.kind == 0) {
        const uint32_t type = opcua::PeekMessageType(r.bytes);
        m_answers.push_back({std::move(r.bytes), type, false});
      }
      else if (r.kind == 1) m_raw.push_back(std::move(r.bytes));
      else if (r.kind == 2) m_acks.push_back(std::move(r.bytes));
      else m_opens.push_back(std::move(r.bytes));
    }
    opcua::SetSocketConnector([this](const std::string&, uint16_t, int, opcua::StatusCode* result) {
      return Accept(result);
    });
  }
  ~ScriptedServer() {
    opcua::SetSocketConnector(nullptr);
    m_stop = true;
    std::lock_guard<std::mutex> lock(m_threadsMutex);
    for (std::thread& t : m_threads) t.join();
  }
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  // Publish answers not yet sent.
  size_t PublishAnswersLeft() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t n = 0;
    for (const Answer& a : m_answers) n += !a.used && a.type == opcua::PublishResponse::kBinaryEncodingId;
    return n;
  }
  int connections() const { return m_connections.load(); }
  // Request types in the order they arrived.
  std::vector<uint32_t> requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
  }

 private:
  struct Answer {
    std::vector<uint8_t> body;
    uint32_t type = 0;
    bool used = false;
  };

  opcua::Socket Accept(opcua::StatusCode* result) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
      if (result) *result = opcua::status::BadNotConnected;
      return opcua::Socket();
    }
    ++m_connections;
    std::lock_guard<std::mutex> lock(m_threadsMutex);
    m_threads.emplace_back([this, fd = fds[1]] { Serve(fd); });
    if (result) *result = opcua::status::Good;
    return opcua::Socket(fds[0]);
  }

  static bool SendAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t pos = 0;
    while (pos < bytes.size()) {
      const ssize_t n = ::send(fd, bytes.data() + pos, bytes.size() - pos, MSG_NOSIGNAL);
      if (n <= 0) return false;
      pos += static_cast<size_t>(n);
    }
    return true;
  }

  template <class T>
  bool Take(std::vector<T>& list, size_t& next, T& out) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (next >= list.size()) return false;
    out = list[next++];
    return true;
  }

  // The next answer for a request of `requestType`: one of its response
  // type, or else a ServiceFault.
  bool TakeAnswer(uint32_t requestType, std::vector<uint8_t>& body) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back(requestType);
    for (uint32_t wanted : {requestType + 3, opcua::ServiceFault::kBinaryEncodingId}) {
      for (Answer& a : m_answers) {
        if (a.used || a.type != wanted) continue;
        a.used = true;
        body = a.body;
        return true;
      }
    }
    return false;
  }

  struct Channel {
    uint32_t channelId = 1;
    uint32_t tokenId = 1;
    uint32_t sequence = 1;
  };

  static std::vector<uint8_t> Frame(const char* type, char chunk, const Channel& ch, bool open, uint32_t sequence,
                                    uint32_t requestId, const uint8_t* body, size_t size) {
    std::vector<uint8_t> out(type, type + 3);
    out.push_back(static_cast<uint8_t>(chunk));
    out.resize(8);
    opcua::Encoder e(out);
    e.U32(ch.channelId);
    if (open) {
      opcua::Encode(e, opcua::String(opcua::kSecurityPolicyNone));
      opcua::Encode(e, opcua::ByteString());
      opcua::Encode(e, opcua::ByteString());
    } else {
      e.U32(ch.tokenId);
    }
    e.U32(sequence);
    e.U32(requestId);
    e.Raw(body, size);
    e.PatchU32(4, static_cast<uint32_t>(out.size()));
    return out;
  }

  bool SendMessage(int fd, Channel& ch, uint32_t requestId, const std::vector<uint8_t>& body) {
    const size_t capacity = kChunkSize - 24;
    size_t pos = 0;
    do {
      const size_t n = std::min(capacity, body.size() - pos);
      const bool last = pos + n == body.size();
      if (!SendAll(fd, Frame("MSG", last ? 'F' : 'C', ch, false, ch.sequence++, requestId, body.data() + pos, n)))
        return false;
      pos += n;
    } while (pos < body.size());
    return true;
  }

  void Serve(int fd) {
    Channel ch;
    std::vector<uint8_t> in, partial;
    uint32_t openRequestId = 0;
    bool done = false;
    auto heard = std::chrono::steady_clock::now();
    while (!done && !m_stop) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) {
        // A client that waits for more than it was sent (a chunk cut short,
        // an answer that never comes) is let go soon, not at its time-out.
        if (std::chrono::steady_clock::now() - heard > std::chrono::milliseconds(kIdleMs)) break;
        continue;
      }
      heard = std::chrono::steady_clock::now();
      uint8_t buffer[65536];
      const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      in.insert(in.end(), buffer, buffer + got);
      while (!done && in.size() >= 8) {
        const uint32_t size = in[4] | in[5] << 8 | in[6] << 16 | static_cast<uint32_t>(in[7]) << 24;
        if (size < 8 || size > (1u << 24)) {
          done = true;
          break;
        }
        if (in.size() < size) break;
        const std::vector<uint8_t> frame(in.begin(), in.begin() + size);
        in.erase(in.begin(), in.begin() + size);
        done = !OnFrame(fd, ch, frame, partial, openRequestId);
      }
    }
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
  }

  // False when the conversation is over.
  bool OnFrame(int fd, Channel& ch, const std::vector<uint8_t>& frame, std::vector<uint8_t>& partial,
               uint32_t& openRequestId) {
    const std::string type(frame.begin(), frame.begin() + 3);
    opcua::Decoder d(frame.data() + 8, frame.size() - 8);
    if (type == "HEL") {
      std::vector<uint8_t> ack;
      if (Take(m_acks, m_nextAck, ack)) return SendAll(fd, ack);
      opcua::tcp::Acknowledge a;
      a.receiveBufferSize = 65536;
      a.sendBufferSize = kChunkSize;
      a.maxMessageSize = 16u << 20;
      a.maxChunkCount = 512;
      std::vector<uint8_t> out = {'A', 'C', 'K', 'F', 0, 0, 0, 0};
      const std::vector<uint8_t> payload = opcua::EncodeToBytes(a);
      out.insert(out.end(), payload.begin(), payload.end());
      opcua::Encoder(out).PatchU32(4, static_cast<uint32_t>(out.size()));
      return SendAll(fd, out);
    }
    if (type == "OPN") {
      uint32_t channelId = 0, sequence = 0;
      opcua::String policy;
      opcua::ByteString certificate, thumbprint;
      if (!d.U32(channelId) || !opcua::Decode(d, policy) || !opcua::Decode(d, certificate) ||
          !opcua::Decode(d, thumbprint) || !d.U32(sequence) || !d.U32(openRequestId))
        return false;
      std::vector<uint8_t> open;
      if (Take(m_opens, m_nextOpen, open)) {
        // Answers go on from what the given response set up.
        opcua::Decoder o(open.data(), open.size());
        o.Skip(12);
        opcua::Decode(o, policy);
        opcua::Decode(o, certificate);
        opcua::Decode(o, thumbprint);
        uint32_t seq = 0, rid = 0;
        o.U32(seq);
        o.U32(rid);
        opcua::OpenSecureChannelResponse response;
        opcua::NodeId typeId;
        if (opcua::Decode(o, typeId) && opcua::Decode(o, response)) {
          ch.channelId = response.securityToken.channelId;
          ch.tokenId = response.securityToken.tokenId;
        }
        ch.sequence = seq + 1;
        return SendAll(fd, open);
      }
      opcua::OpenSecureChannelResponse response;
      response.responseHeader.timestamp = opcua::DateTime::Now();
      response.securityToken.channelId = ch.channelId;
      response.securityToken.tokenId = ch.tokenId;
      response.securityToken.createdAt = opcua::DateTime::Now();
      response.securityToken.revisedLifetime = 600000;
      response.serverNonce = opcua::ByteString(std::vector<uint8_t>());
      const std::vector<uint8_t> body = opcua::EncodeMessage(response);
      return SendAll(fd, Frame("OPN", 'F', ch, true, ch.sequence++, openRequestId, body.data(), body.size()));
    }
    if (type == "CLO") return false;
    if (type != "MSG") return false;
    uint32_t channelId = 0, tokenId = 0, sequence = 0, requestId = 0;
    if (!d.U32(channelId) || !d.U32(tokenId) || !d.U32(sequence) || !d.U32(requestId)) return false;
    partial.insert(partial.end(), d.Peek(), d.Peek() + d.remaining());
    if (frame[3] == 'C') return true;
    const std::vector<uint8_t> request = std::move(partial);
    partial.clear();
    if (frame[3] != 'F') return true;
    const uint32_t requestType = opcua::PeekMessageType(request);
    uint32_t handle = 0;
    opcua::PeekRequestHandle(request.data(), request.size(), handle);
    std::vector<uint8_t> raw;
    if (Take(m_raw, m_nextRaw, raw) && !SendAll(fd, raw)) return false;
    std::vector<uint8_t> body;
    if (!TakeAnswer(requestType, body)) {
      if (requestType == opcua::PublishRequest::kBinaryEncodingId) return true;
      body = opcua::EncodeServiceFault(handle, opcua::status::BadServiceUnsupported);
    }
    return SendMessage(fd, ch, requestId, body);
  }

  mutable std::mutex m_mutex;  // the script
  std::vector<Answer> m_answers;
  std::vector<std::vector<uint8_t>> m_raw, m_acks, m_opens;
  size_t m_nextRaw = 0, m_nextAck = 0, m_nextOpen = 0;
  std::vector<uint32_t> m_requests;

  std::atomic<bool> m_stop{false};
  std::atomic<int> m_connections{0};
  std::mutex m_threadsMutex;
  std::vector<std::thread> m_threads;
};

}  // namespace opcuatest
