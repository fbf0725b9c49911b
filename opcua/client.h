// A blocking client connection: one socket, one SecureChannel, and calls that
// send a request and wait for its response with a bound. Tests, tools and
// clientkit build on it; a client that needs several requests in flight (a
// Publish loop beside Reads) uses SecureChannel and Socket directly, or
// Post/Wait below.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>

#include "opcua/services.h"
#include "opcua/socket.h"
#include "opcua/transport.h"

namespace opcua {

// Where ClientConnection::Connect gets its socket: the network, unless a
// test or fuzz target puts a function here that hands out, say, one end of a
// socket pair. Process-wide; an empty function restores the network.
using SocketConnector =
    std::function<Socket(const std::string& host, uint16_t port, int timeoutMs, StatusCode* result)>;
void SetSocketConnector(SocketConnector connector);

class ClientConnection {
 public:
  explicit ClientConnection(const TransportLimits& limits = TransportLimits()) : m_limits(limits) {}

  // Connects, says Hello and opens the secure channel, all within `timeoutMs`.
  StatusCode Connect(const std::string& endpointUrl, int timeoutMs = 5000, uint32_t tokenLifetimeMs = 600000);
  // Sends CloseSecureChannel and closes the socket.
  void Close();
  bool IsOpen() const { return m_channel && m_channel->IsOpen() && m_socket.valid(); }
  SecureChannel* channel() { return m_channel.get(); }

  // The session's authentication token, put into every request header by Call.
  void SetAuthenticationToken(const NodeId& token) { m_authenticationToken = token; }

  // Sends `request` (its header's handle, time stamp and token are filled in)
  // and decodes the answer into `response`. The result is the transport's or
  // decoder's fault, a ServiceFault's service result, or the response
  // header's service result.
  template <class Request, class Response>
  StatusCode Call(Request& request, Response& response, int timeoutMs = 5000) {
    const uint32_t id = Post(request);
    if (id == 0) return m_lastFault != status::Good ? m_lastFault : status::BadRequestTooLarge;
    std::vector<uint8_t> body;
    const StatusCode waited = Wait(id, body, timeoutMs);
    if (waited != status::Good) return waited;
    return DecodeResponse(body, response);
  }

  // Sends without waiting; returns the request id (0 on failure).
  template <class Request>
  uint32_t Post(Request& request) {
    request.requestHeader.authenticationToken = m_authenticationToken;
    request.requestHeader.timestamp = DateTime::Now();
    request.requestHeader.requestHandle = m_nextHandle++;
    if (request.requestHeader.timeoutHint == 0) request.requestHeader.timeoutHint = 10000;
    return PostBody(EncodeMessage(request));
  }
  uint32_t PostBody(const std::vector<uint8_t>& body);
  // Waits for the response body of request `id`; responses to other requests
  // that arrive meanwhile are kept for their own Wait.
  StatusCode Wait(uint32_t id, std::vector<uint8_t>& body, int timeoutMs);

  template <class Response>
  static StatusCode DecodeResponse(const std::vector<uint8_t>& body, Response& response) {
    if (PeekMessageType(body) == ServiceFault::kBinaryEncodingId) {
      ServiceFault fault;
      const StatusCode s = DecodeMessage(body, fault);
      if (s != status::Good) return s;
      return IsBad(fault.responseHeader.serviceResult) ? fault.responseHeader.serviceResult : status::BadUnknownResponse;
    }
    const StatusCode s = DecodeMessage(body, response);
    if (s != status::Good) return s;
    return response.responseHeader.serviceResult;
  }

 private:
  // Moves bytes both ways for at most `timeoutMs`.
  StatusCode Pump(int timeoutMs);
  StatusCode Flush(int timeoutMs);

  TransportLimits m_limits;
  Socket m_socket;
  std::unique_ptr<SecureChannel> m_channel;
  NodeId m_authenticationToken;
  uint32_t m_nextHandle = 1;
  StatusCode m_lastFault = status::Good;
  std::map<uint32_t, std::vector<uint8_t>> m_arrived;
};

}  // namespace opcua
