// UA TCP and UA Secure Conversation, without sockets.
//
// SecureChannel is one end of one connection: bytes read from the socket go
// into Receive, bytes to write come out of TakeOutput, and complete service
// messages come out of NextMessage. It speaks Hello/Acknowledge/Error,
// negotiates buffer and message sizes, cuts outgoing messages into chunks and
// joins incoming ones, keeps sequence numbers and request ids, and runs
// OpenSecureChannel (issue and renew, with the token's lifetime) and
// CloseSecureChannel. The same class serves the client (Role::Client) and the
// server (Role::Server).
//
// Message security goes through SecurityPolicy: None is the only policy
// today, and a signing or encrypting one fits in by giving the overhead of a
// chunk and securing or verifying it in place.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "opcua/encoding.h"
#include "opcua/services.h"

namespace opcua {

inline constexpr const char* kSecurityPolicyNone = "http://opcfoundation.org/UA/SecurityPolicy#None";
inline constexpr const char* kTransportProfileBinary =
    "http://opcfoundation.org/UA-Profile/Transport/uatcp-uasc-uabinary";

namespace tcp {
struct Hello {
  uint32_t protocolVersion = 0;
  uint32_t receiveBufferSize = 0;
  uint32_t sendBufferSize = 0;
  uint32_t maxMessageSize = 0;
  uint32_t maxChunkCount = 0;
  String endpointUrl;
  OPCUA_FIELDS(protocolVersion, receiveBufferSize, sendBufferSize, maxMessageSize, maxChunkCount, endpointUrl)
};
struct Acknowledge {
  uint32_t protocolVersion = 0;
  uint32_t receiveBufferSize = 0;
  uint32_t sendBufferSize = 0;
  uint32_t maxMessageSize = 0;
  uint32_t maxChunkCount = 0;
  OPCUA_FIELDS(protocolVersion, receiveBufferSize, sendBufferSize, maxMessageSize, maxChunkCount)
};
struct ErrorMessage {
  StatusCode error = status::Good;
  String reason;
  OPCUA_FIELDS(error, reason)
};
constexpr uint32_t kMinBufferSize = 8192;
constexpr uint32_t kHeaderSize = 8;
constexpr size_t kMaxEndpointUrlLength = 4096;
}  // namespace tcp

// What one end accepts and offers. 0 for maxMessageSize or maxChunkCount
// would mean "no limit"; this stack always sets both.
struct TransportLimits {
  uint32_t receiveBufferSize = 65536;
  uint32_t sendBufferSize = 65536;
  uint32_t maxMessageSize = 16u << 20;
  uint32_t maxChunkCount = 512;
  // Token lifetimes a server grants, in milliseconds.
  uint32_t minTokenLifetime = 10000;
  uint32_t maxTokenLifetime = 3600000;
};

// The security applied to each chunk. None adds nothing.
class SecurityPolicy {
 public:
  virtual ~SecurityPolicy() = default;
  virtual const char* Uri() const = 0;
  virtual MessageSecurityMode Mode() const = 0;
  // Bytes of message body that fit a chunk of `chunkSize` whose headers take
  // `headerSize` (sequence header included).
  virtual size_t BodyCapacity(bool asymmetric, size_t chunkSize, size_t headerSize) const = 0;
  // Adds padding and signature to a chunk whose header and body are written,
  // encrypting from `securedFrom`, and fixes up its size field.
  virtual void Secure(bool asymmetric, std::vector<uint8_t>& chunk, size_t securedFrom) const = 0;
  // Checks and strips a received chunk; `bodyEnd` is set to where its body ends.
  virtual StatusCode Verify(bool asymmetric, std::vector<uint8_t>& chunk, size_t securedFrom,
                            size_t& bodyEnd) const = 0;
};
std::unique_ptr<SecurityPolicy> MakeSecurityPolicyNone();

class SecureChannel {
 public:
  enum class Role { Client, Server };
  enum class State { Idle, HelloSent, Acknowledged, OpenSent, Open, Closed };
  struct Message {
    uint32_t requestId = 0;
    std::vector<uint8_t> body;
  };

  // `channelId` is the id a server gives the channel it opens (unused by a client).
  SecureChannel(Role role, const TransportLimits& limits = TransportLimits(), uint32_t channelId = 1);

  // --- both ends ---
  // Takes bytes from the peer. A fault ends the channel: the state becomes
  // Closed, a server queues an Error message for the peer, and the fault is
  // returned (also kept in closeReason()).
  StatusCode Receive(const uint8_t* data, size_t size, DateTime now = DateTime::Now());
  bool NextMessage(Message& message);
  std::vector<uint8_t> TakeOutput();
  bool HasOutput() const { return !m_output.empty(); }
  // Cuts `body` into MSG chunks for the peer; BadRequestTooLarge (client) or
  // BadResponseTooLarge (server) when it passes the peer's limits.
  StatusCode Send(uint32_t requestId, const std::vector<uint8_t>& body);
  // Time-driven work: a client renews its token at 75 % of its lifetime; a
  // server closes a channel whose token has run out (125 %).
  StatusCode Tick(DateTime now = DateTime::Now());
  State state() const { return m_state; }
  bool IsOpen() const { return m_state == State::Open; }
  bool IsClosed() const { return m_state == State::Closed; }
  StatusCode closeReason() const { return m_closeReason; }
  uint32_t channelId() const { return m_channelId; }
  const ChannelSecurityToken& token() const { return m_token; }
  // Negotiated sizes.
  uint32_t sendChunkSize() const { return m_sendChunkSize; }
  uint32_t receiveChunkSize() const { return m_receiveChunkSize; }
  uint32_t peerMaxMessageSize() const { return m_peerMaxMessageSize; }
  uint32_t peerMaxChunkCount() const { return m_peerMaxChunkCount; }
  const std::string& endpointUrl() const { return m_endpointUrl; }
  uint32_t tokensIssued() const { return m_tokensIssued; }

  // --- client ---
  // Queues Hello; once acknowledged, OpenSecureChannel (Issue) follows by itself.
  void Connect(const std::string& endpointUrl, uint32_t requestedLifetimeMs = 600000);
  // A new request id and its chunks; 0 when the channel is not open or the
  // body is too large.
  uint32_t SendRequest(const std::vector<uint8_t>& body);
  // Queues CloseSecureChannel and closes.
  void Close();

  // --- server ---
  // Queues an Error message and closes (for a server giving up on a peer).
  void Abort(StatusCode reason, const std::string& text = std::string());

 private:
  StatusCode Fault(StatusCode reason, const char* text);
  StatusCode OnFrame(const uint8_t* frame, uint32_t size, DateTime now);
  StatusCode OnHello(Decoder& d);
  StatusCode OnAcknowledge(Decoder& d);
  StatusCode OnError(Decoder& d);
  StatusCode OnSecureChunk(const char* type, char chunkType, const uint8_t* frame, uint32_t size, DateTime now);
  StatusCode OnOpenRequest(const Message& m, DateTime now);
  StatusCode OnOpenResponse(const Message& m, DateTime now);
  StatusCode CheckSequence(uint32_t sequenceNumber);
  void SendOpenRequest(SecurityTokenRequestType type);
  StatusCode SendChunks(const char* type, uint32_t requestId, const std::vector<uint8_t>& body);
  void SendRaw(const char* type, const std::vector<uint8_t>& payload);

  Role m_role;
  TransportLimits m_limits;
  std::unique_ptr<SecurityPolicy> m_policy;
  State m_state = State::Idle;
  StatusCode m_closeReason = status::Good;

  std::vector<uint8_t> m_input;
  size_t m_inputPos = 0;
  std::vector<uint8_t> m_output;
  std::deque<Message> m_messages;

  uint32_t m_sendChunkSize;
  uint32_t m_receiveChunkSize;
  uint32_t m_peerMaxMessageSize = 0;
  uint32_t m_peerMaxChunkCount = 0;
  std::string m_endpointUrl;

  uint32_t m_channelId;
  ChannelSecurityToken m_token;
  uint32_t m_previousTokenId = 0;
  uint32_t m_sendTokenId = 0;
  uint32_t m_tokensIssued = 0;
  uint32_t m_requestedLifetime = 600000;
  bool m_renewPending = false;

  uint32_t m_sendSequence = 0;
  uint32_t m_receiveSequence = 0;
  bool m_firstSequence = true;
  uint32_t m_nextRequestId = 1;
  uint32_t m_nextRequestHandle = 1;

  // The message being joined from chunks.
  uint32_t m_partialRequestId = 0;
  uint32_t m_partialChunks = 0;
  std::vector<uint8_t> m_partial;
};

}  // namespace opcua
