// UA TCP framing and UA Secure Conversation for one connection.
#include "opcua/transport.h"

#include <algorithm>
#include <cstring>

namespace opcua {

namespace {

// Security policy None: chunks carry the body as it is.
class SecurityPolicyNone final : public SecurityPolicy {
 public:
  const char* Uri() const override { return kSecurityPolicyNone; }
  MessageSecurityMode Mode() const override { return MessageSecurityMode::None; }
  size_t BodyCapacity(bool, size_t chunkSize, size_t headerSize) const override {
    return chunkSize > headerSize ? chunkSize - headerSize : 0;
  }
  void Secure(bool, std::vector<uint8_t>&, size_t) const override {}
  StatusCode Verify(bool, std::vector<uint8_t>& chunk, size_t, size_t& bodyEnd) const override {
    bodyEnd = chunk.size();
    return status::Good;
  }
};

constexpr uint32_t kSequenceWrapAbove = 4294966271u;  // UINT32_MAX - 1024
constexpr uint32_t kSequenceWrapBelow = 1024;
// A Hello holds five numbers and an endpoint URL of at most 4096 bytes.
constexpr uint32_t kMaxHelloFrame = tcp::kHeaderSize + 20 + 4 + tcp::kMaxEndpointUrlLength;

bool TypeIs(const uint8_t* frame, const char* type) { return std::memcmp(frame, type, 3) == 0; }

void PutU32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

std::unique_ptr<SecurityPolicy> MakeSecurityPolicyNone() { return std::make_unique<SecurityPolicyNone>(); }

SecureChannel::SecureChannel(Role role, const TransportLimits& limits, uint32_t channelId)
    : m_role(role),
      m_limits(limits),
      m_policy(MakeSecurityPolicyNone()),
      m_sendChunkSize(std::max(limits.sendBufferSize, tcp::kMinBufferSize)),
      m_receiveChunkSize(std::max(limits.receiveBufferSize, tcp::kMinBufferSize)),
      m_channelId(role == Role::Server ? channelId : 0) {
  m_limits.sendBufferSize = m_sendChunkSize;
  m_limits.receiveBufferSize = m_receiveChunkSize;
}

// --- faults ------------------------------------------------------------------
StatusCode SecureChannel::Fault(StatusCode reason, const char* text) {
  if (m_state == State::Closed) return reason;
  if (m_role == Role::Server) {
    tcp::ErrorMessage error{reason, String(text)};
    SendRaw("ERR", EncodeToBytes(error));
  }
  m_state = State::Closed;
  m_closeReason = reason;
  m_partial.clear();
  m_partialChunks = 0;
  return reason;
}

void SecureChannel::Abort(StatusCode reason, const std::string& text) { Fault(reason, text.c_str()); }

// --- input -------------------------------------------------------------------
StatusCode SecureChannel::Receive(const uint8_t* data, size_t size, DateTime now) {
  if (m_state == State::Closed) return m_closeReason == status::Good ? status::BadSecureChannelClosed : m_closeReason;
  m_input.insert(m_input.end(), data, data + size);
  StatusCode result = status::Good;
  while (m_state != State::Closed && m_input.size() - m_inputPos >= tcp::kHeaderSize) {
    const uint8_t* frame = m_input.data() + m_inputPos;
    const uint32_t frameSize = static_cast<uint32_t>(frame[4]) | static_cast<uint32_t>(frame[5]) << 8 |
                               static_cast<uint32_t>(frame[6]) << 16 | static_cast<uint32_t>(frame[7]) << 24;
    if (!TypeIs(frame, "HEL") && !TypeIs(frame, "ACK") && !TypeIs(frame, "ERR") && !TypeIs(frame, "OPN") &&
        !TypeIs(frame, "MSG") && !TypeIs(frame, "CLO"))
      return Fault(status::BadTcpMessageTypeInvalid, "unknown message type");
    // Before the Hello is answered, only a Hello-sized frame is believable.
    const uint32_t limit = (m_role == Role::Server && m_state == State::Idle) ? kMaxHelloFrame : m_receiveChunkSize;
    if (frameSize < tcp::kHeaderSize + (TypeIs(frame, "HEL") || TypeIs(frame, "ACK") || TypeIs(frame, "ERR") ? 0 : 4))
      return Fault(status::BadTcpMessageTypeInvalid, "frame too short");
    if (frameSize > limit) return Fault(status::BadTcpMessageTooLarge, "chunk larger than the receive buffer");
    if (m_input.size() - m_inputPos < frameSize) break;
    result = OnFrame(frame, frameSize, now);
    m_inputPos += frameSize;
    if (result != status::Good) break;
  }
  if (m_inputPos == m_input.size()) {
    m_input.clear();
    m_inputPos = 0;
  } else if (m_inputPos > 65536) {
    m_input.erase(m_input.begin(), m_input.begin() + static_cast<std::ptrdiff_t>(m_inputPos));
    m_inputPos = 0;
  }
  return m_state == State::Closed && result == status::Good ? m_closeReason : result;
}

StatusCode SecureChannel::OnFrame(const uint8_t* frame, uint32_t size, DateTime now) {
  const char chunkType = static_cast<char>(frame[3]);
  Decoder d(frame + tcp::kHeaderSize, size - tcp::kHeaderSize);
  if (TypeIs(frame, "HEL")) {
    if (m_role != Role::Server || m_state != State::Idle) return Fault(status::BadTcpMessageTypeInvalid, "unexpected Hello");
    if (chunkType != 'F') return Fault(status::BadTcpMessageTypeInvalid, "chunked Hello");
    return OnHello(d);
  }
  if (TypeIs(frame, "ACK")) {
    if (m_role != Role::Client || m_state != State::HelloSent || chunkType != 'F')
      return Fault(status::BadTcpMessageTypeInvalid, "unexpected Acknowledge");
    return OnAcknowledge(d);
  }
  if (TypeIs(frame, "ERR")) {
    if (chunkType != 'F') return Fault(status::BadTcpMessageTypeInvalid, "chunked Error");
    return OnError(d);
  }
  if (TypeIs(frame, "OPN")) return OnSecureChunk("OPN", chunkType, frame, size, now);
  if (TypeIs(frame, "MSG")) return OnSecureChunk("MSG", chunkType, frame, size, now);
  if (TypeIs(frame, "CLO")) return OnSecureChunk("CLO", chunkType, frame, size, now);
  return Fault(status::BadTcpMessageTypeInvalid, "unknown message type");
}

StatusCode SecureChannel::OnHello(Decoder& d) {
  tcp::Hello hello;
  if (!Decode(d, hello.protocolVersion) || !Decode(d, hello.receiveBufferSize) || !Decode(d, hello.sendBufferSize) ||
      !Decode(d, hello.maxMessageSize) || !Decode(d, hello.maxChunkCount))
    return Fault(status::BadDecodingError, "damaged Hello");
  int32_t urlLength = 0;
  bool urlNull = false;
  {
    // The URL gets its own bound, tighter than a String's.
    Decoder peek(d.Peek(), d.remaining());
    if (!peek.Length(urlLength, urlNull, tcp::kMaxEndpointUrlLength, 1))
      return Fault(status::BadTcpEndpointUrlInvalid, "endpoint URL too long");
  }
  if (!Decode(d, hello.endpointUrl) || d.remaining() != 0) return Fault(status::BadDecodingError, "damaged Hello");
  if (hello.receiveBufferSize < tcp::kMinBufferSize || hello.sendBufferSize < tcp::kMinBufferSize)
    return Fault(status::BadConnectionRejected, "buffer sizes below 8192");
  m_sendChunkSize = std::min(hello.receiveBufferSize, m_limits.sendBufferSize);
  m_receiveChunkSize = std::min(hello.sendBufferSize, m_limits.receiveBufferSize);
  m_peerMaxMessageSize = hello.maxMessageSize;
  m_peerMaxChunkCount = hello.maxChunkCount;
  m_endpointUrl = hello.endpointUrl.str();
  tcp::Acknowledge ack;
  ack.protocolVersion = 0;
  ack.receiveBufferSize = m_receiveChunkSize;
  ack.sendBufferSize = m_sendChunkSize;
  ack.maxMessageSize = m_limits.maxMessageSize;
  ack.maxChunkCount = m_limits.maxChunkCount;
  SendRaw("ACK", EncodeToBytes(ack));
  m_state = State::Acknowledged;
  return status::Good;
}

StatusCode SecureChannel::OnAcknowledge(Decoder& d) {
  tcp::Acknowledge ack;
  if (!Decode(d, ack) || d.remaining() != 0) return Fault(status::BadDecodingError, "damaged Acknowledge");
  if (ack.receiveBufferSize < tcp::kMinBufferSize || ack.sendBufferSize < tcp::kMinBufferSize)
    return Fault(status::BadConnectionRejected, "buffer sizes below 8192");
  // The server may only lower what we offered.
  if (ack.sendBufferSize > m_limits.receiveBufferSize)
    return Fault(status::BadTcpInternalError, "server chunks larger than offered");
  m_sendChunkSize = std::min(ack.receiveBufferSize, m_limits.sendBufferSize);
  m_receiveChunkSize = ack.sendBufferSize;
  m_peerMaxMessageSize = ack.maxMessageSize;
  m_peerMaxChunkCount = ack.maxChunkCount;
  m_state = State::Acknowledged;
  SendOpenRequest(SecurityTokenRequestType::Issue);
  m_state = State::OpenSent;
  return status::Good;
}

StatusCode SecureChannel::OnError(Decoder& d) {
  tcp::ErrorMessage error;
  if (!Decode(d, error)) error.error = status::BadDecodingError;
  // An Error from the peer ends the channel; we answer nothing.
  const StatusCode reason = IsBad(error.error) ? error.error : status::BadTcpInternalError;
  m_state = State::Closed;
  m_closeReason = reason;
  return reason;
}

StatusCode SecureChannel::OnSecureChunk(const char* type, char chunkType, const uint8_t* frame, uint32_t size,
                                        DateTime now) {
  const bool open = std::strcmp(type, "OPN") == 0;
  if (m_role == Role::Server) {
    if (m_state == State::Idle) return Fault(status::BadTcpMessageTypeInvalid, "no Hello");
    if (!open && m_state != State::Open) return Fault(status::BadTcpSecureChannelUnknown, "channel not open");
  } else if (m_state != State::OpenSent && m_state != State::Open) {
    return Fault(status::BadTcpMessageTypeInvalid, "unexpected secure message");
  }
  if (chunkType != 'C' && chunkType != 'F' && chunkType != 'A')
    return Fault(status::BadTcpMessageTypeInvalid, "unknown chunk type");

  std::vector<uint8_t> chunk(frame, frame + size);
  Decoder d(chunk.data(), chunk.size());
  d.Skip(tcp::kHeaderSize);
  uint32_t channelId = 0;
  if (!d.U32(channelId)) return Fault(status::BadDecodingError, "damaged chunk");
  if (open) {
    String policyUri;
    ByteString senderCertificate, thumbprint;
    if (!Decode(d, policyUri) || !Decode(d, senderCertificate) || !Decode(d, thumbprint))
      return Fault(status::BadDecodingError, "damaged security header");
    if (policyUri.str() != m_policy->Uri()) return Fault(status::BadSecurityPolicyRejected, "security policy");
    // A renewal names the channel it renews; a first request names none.
    if (m_role == Role::Server && m_state == State::Open && channelId != m_channelId)
      return Fault(status::BadTcpSecureChannelUnknown, "renewal for another channel");
  } else {
    uint32_t tokenId = 0;
    if (!d.U32(tokenId)) return Fault(status::BadDecodingError, "damaged chunk");
    if (channelId != m_channelId) return Fault(status::BadTcpSecureChannelUnknown, "unknown channel");
    if (tokenId != m_token.tokenId && (m_previousTokenId == 0 || tokenId != m_previousTokenId))
      return Fault(status::BadSecureChannelTokenUnknown, "unknown token");
    // The client has moved to the renewed token: so do we, and the old one goes.
    if (m_role == Role::Server && tokenId == m_token.tokenId) {
      m_sendTokenId = tokenId;
      m_previousTokenId = 0;
    }
  }
  const size_t securedFrom = d.position();
  size_t bodyEnd = chunk.size();
  const StatusCode verified = m_policy->Verify(open, chunk, securedFrom, bodyEnd);
  if (verified != status::Good) return Fault(verified, "chunk security");
  Decoder seq(chunk.data() + securedFrom, bodyEnd - securedFrom);
  uint32_t sequenceNumber = 0, requestId = 0;
  if (!seq.U32(sequenceNumber) || !seq.U32(requestId)) return Fault(status::BadDecodingError, "damaged sequence header");
  const StatusCode sequenceOk = CheckSequence(sequenceNumber);
  if (sequenceOk != status::Good) return Fault(sequenceOk, "sequence number");
  const uint8_t* body = chunk.data() + securedFrom + 8;
  const size_t bodySize = bodyEnd - securedFrom - 8;

  if (chunkType == 'A') {
    // The sender gave up on this message.
    if (m_partialChunks != 0 && requestId == m_partialRequestId) {
      m_partial.clear();
      m_partialChunks = 0;
    }
    return status::Good;
  }
  if (m_partialChunks != 0 && requestId != m_partialRequestId)
    return Fault(status::BadTcpMessageTypeInvalid, "chunks of two messages interleaved");
  if (m_partial.size() + bodySize > m_limits.maxMessageSize || m_partialChunks + 1 > m_limits.maxChunkCount)
    return Fault(status::BadTcpMessageTooLarge, "message too large");
  m_partialRequestId = requestId;
  m_partial.insert(m_partial.end(), body, body + bodySize);
  ++m_partialChunks;
  if (chunkType == 'C') return status::Good;

  Message message{requestId, std::move(m_partial)};
  m_partial.clear();
  m_partialChunks = 0;
  if (open) return m_role == Role::Server ? OnOpenRequest(message, now) : OnOpenResponse(message, now);
  if (std::strcmp(type, "CLO") == 0) {
    if (m_role == Role::Server) {
      m_state = State::Closed;
      m_closeReason = status::Good;
    }
    return status::Good;
  }
  m_messages.push_back(std::move(message));
  return status::Good;
}

StatusCode SecureChannel::CheckSequence(uint32_t sequenceNumber) {
  if (m_firstSequence) {
    m_firstSequence = false;
    m_receiveSequence = sequenceNumber;
    return status::Good;
  }
  const bool next = sequenceNumber == m_receiveSequence + 1;
  const bool wrapped = m_receiveSequence > kSequenceWrapAbove && sequenceNumber < kSequenceWrapBelow;
  if (!next && !wrapped) return status::BadSequenceNumberInvalid;
  m_receiveSequence = sequenceNumber;
  return status::Good;
}

// --- OpenSecureChannel -------------------------------------------------------
StatusCode SecureChannel::OnOpenRequest(const Message& m, DateTime now) {
  OpenSecureChannelRequest request;
  const StatusCode decoded = DecodeMessage(m.body, request);
  if (decoded != status::Good) return Fault(decoded, "damaged OpenSecureChannel");
  if (request.securityMode != MessageSecurityMode::None)
    return Fault(status::BadSecurityModeRejected, "security mode");
  if (request.requestType == SecurityTokenRequestType::Issue) {
    if (m_state != State::Acknowledged) return Fault(status::BadInvalidState, "channel already open");
  } else if (request.requestType == SecurityTokenRequestType::Renew) {
    if (m_state != State::Open) return Fault(status::BadInvalidState, "nothing to renew");
  } else {
    return Fault(status::BadInvalidArgument, "request type");
  }
  const uint32_t lifetime = std::clamp(request.requestedLifetime == 0 ? m_limits.maxTokenLifetime : request.requestedLifetime,
                                       m_limits.minTokenLifetime, m_limits.maxTokenLifetime);
  if (request.requestType == SecurityTokenRequestType::Renew) m_previousTokenId = m_token.tokenId;
  m_token.channelId = m_channelId;
  m_token.tokenId = ++m_tokensIssued;
  m_token.createdAt = now;
  m_token.revisedLifetime = lifetime;
  // Until the client uses the new token, answers go out under the old one.
  if (request.requestType == SecurityTokenRequestType::Issue) m_sendTokenId = m_token.tokenId;

  OpenSecureChannelResponse response;
  response.responseHeader.timestamp = now;
  response.responseHeader.requestHandle = request.requestHeader.requestHandle;
  response.serverProtocolVersion = 0;
  response.securityToken = m_token;
  response.serverNonce = ByteString(std::vector<uint8_t>());
  m_state = State::Open;
  return SendChunks("OPN", m.requestId, EncodeMessage(response));
}

StatusCode SecureChannel::OnOpenResponse(const Message& m, DateTime now) {
  (void)now;
  if (PeekMessageType(m.body) == ServiceFault::kBinaryEncodingId) {
    ServiceFault fault;
    DecodeMessage(m.body, fault);
    return Fault(IsBad(fault.responseHeader.serviceResult) ? fault.responseHeader.serviceResult : status::BadUnknownResponse,
                 "OpenSecureChannel refused");
  }
  OpenSecureChannelResponse response;
  const StatusCode decoded = DecodeMessage(m.body, response);
  if (decoded != status::Good) return Fault(decoded, "damaged OpenSecureChannel response");
  if (IsBad(response.responseHeader.serviceResult)) return Fault(response.responseHeader.serviceResult, "refused");
  if (m_state == State::Open && response.securityToken.channelId != m_channelId)
    return Fault(status::BadTcpSecureChannelUnknown, "renewal answered for another channel");
  if (m_state == State::Open) m_previousTokenId = m_token.tokenId;
  m_channelId = response.securityToken.channelId;
  m_token = response.securityToken;
  // The client takes a renewed token into use at once.
  m_sendTokenId = m_token.tokenId;
  // The lifetime runs from when we got the token: our clock, not the server's.
  m_token.createdAt = now;
  m_renewPending = false;
  ++m_tokensIssued;
  m_state = State::Open;
  return status::Good;
}

void SecureChannel::SendOpenRequest(SecurityTokenRequestType type) {
  OpenSecureChannelRequest request;
  request.requestHeader.timestamp = DateTime::Now();
  request.requestHeader.requestHandle = m_nextRequestHandle++;
  request.requestHeader.timeoutHint = 10000;
  request.clientProtocolVersion = 0;
  request.requestType = type;
  request.securityMode = m_policy->Mode();
  request.clientNonce = ByteString(std::vector<uint8_t>());
  request.requestedLifetime = m_requestedLifetime;
  SendChunks("OPN", m_nextRequestId++, EncodeMessage(request));
}

// --- output ------------------------------------------------------------------
void SecureChannel::SendRaw(const char* type, const std::vector<uint8_t>& payload) {
  const size_t start = m_output.size();
  m_output.insert(m_output.end(), type, type + 3);
  m_output.push_back('F');
  m_output.resize(m_output.size() + 4);
  m_output.insert(m_output.end(), payload.begin(), payload.end());
  PutU32(m_output, start + 4, static_cast<uint32_t>(m_output.size() - start));
}

StatusCode SecureChannel::SendChunks(const char* type, uint32_t requestId, const std::vector<uint8_t>& body) {
  const bool open = std::strcmp(type, "OPN") == 0;
  const StatusCode tooLarge = m_role == Role::Client ? status::BadRequestTooLarge : status::BadResponseTooLarge;
  if (m_peerMaxMessageSize != 0 && body.size() > m_peerMaxMessageSize) return tooLarge;

  // The security header: the policy URI and two empty certificates for OPN,
  // the token id otherwise.
  std::vector<uint8_t> securityHeader;
  {
    Encoder e(securityHeader);
    if (open) {
      Encode(e, String(m_policy->Uri()));
      Encode(e, ByteString());
      Encode(e, ByteString());
    } else {
      e.U32(m_sendTokenId);
    }
  }
  const size_t headerSize = tcp::kHeaderSize + 4 + securityHeader.size() + 8;
  const size_t capacity = m_policy->BodyCapacity(open, m_sendChunkSize, headerSize);
  if (capacity == 0) return tooLarge;
  const size_t chunks = body.empty() ? 1 : (body.size() + capacity - 1) / capacity;
  if (m_peerMaxChunkCount != 0 && chunks > m_peerMaxChunkCount) return tooLarge;

  for (size_t i = 0; i < chunks; ++i) {
    const size_t from = i * capacity;
    const size_t length = std::min(capacity, body.size() - std::min(body.size(), from));
    std::vector<uint8_t> chunk;
    chunk.reserve(headerSize + length);
    chunk.insert(chunk.end(), type, type + 3);
    chunk.push_back(i + 1 == chunks ? 'F' : 'C');
    chunk.resize(8);
    Encoder e(chunk);
    e.U32(m_channelId);
    e.Raw(securityHeader.data(), securityHeader.size());
    const size_t securedFrom = chunk.size();
    if (++m_sendSequence > kSequenceWrapAbove) m_sendSequence = 1;
    e.U32(m_sendSequence);
    e.U32(requestId);
    e.Raw(body.data() + from, length);
    PutU32(chunk, 4, static_cast<uint32_t>(chunk.size()));
    m_policy->Secure(open, chunk, securedFrom);
    m_output.insert(m_output.end(), chunk.begin(), chunk.end());
  }
  return status::Good;
}

StatusCode SecureChannel::Send(uint32_t requestId, const std::vector<uint8_t>& body) {
  if (m_state != State::Open) return status::BadSecureChannelClosed;
  return SendChunks("MSG", requestId, body);
}

bool SecureChannel::NextMessage(Message& message) {
  if (m_messages.empty()) return false;
  message = std::move(m_messages.front());
  m_messages.pop_front();
  return true;
}

std::vector<uint8_t> SecureChannel::TakeOutput() {
  std::vector<uint8_t> out;
  out.swap(m_output);
  return out;
}

// --- time --------------------------------------------------------------------
StatusCode SecureChannel::Tick(DateTime now) {
  if (m_state != State::Open) return status::Good;
  const int64_t ageMs = (now.ticks - m_token.createdAt.ticks) / 10000;
  const int64_t lifetime = m_token.revisedLifetime;
  if (m_role == Role::Client) {
    if (!m_renewPending && ageMs * 4 >= lifetime * 3) {
      m_renewPending = true;
      SendOpenRequest(SecurityTokenRequestType::Renew);
    }
    return status::Good;
  }
  if (ageMs * 4 > lifetime * 5) return Fault(status::BadSecureChannelClosed, "security token expired");
  return status::Good;
}

// --- client ------------------------------------------------------------------
void SecureChannel::Connect(const std::string& endpointUrl, uint32_t requestedLifetimeMs) {
  if (m_state != State::Idle) return;
  m_endpointUrl = endpointUrl;
  m_requestedLifetime = requestedLifetimeMs;
  tcp::Hello hello;
  hello.protocolVersion = 0;
  hello.receiveBufferSize = m_limits.receiveBufferSize;
  hello.sendBufferSize = m_limits.sendBufferSize;
  hello.maxMessageSize = m_limits.maxMessageSize;
  hello.maxChunkCount = m_limits.maxChunkCount;
  hello.endpointUrl = String(endpointUrl);
  SendRaw("HEL", EncodeToBytes(hello));
  m_state = State::HelloSent;
}

uint32_t SecureChannel::SendRequest(const std::vector<uint8_t>& body) {
  if (m_role != Role::Client || m_state != State::Open) return 0;
  const uint32_t id = m_nextRequestId;
  if (SendChunks("MSG", id, body) != status::Good) return 0;
  if (++m_nextRequestId == 0) m_nextRequestId = 1;
  return id;
}

void SecureChannel::Close() {
  if (m_state == State::Closed) return;
  if (m_state == State::Open) {
    CloseSecureChannelRequest request;
    request.requestHeader.timestamp = DateTime::Now();
    request.requestHeader.requestHandle = m_nextRequestHandle++;
    SendChunks("CLO", m_nextRequestId++, EncodeMessage(request));
  }
  m_state = State::Closed;
  m_closeReason = status::Good;
}

}  // namespace opcua
