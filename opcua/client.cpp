#include "opcua/client.h"

#include <mutex>

namespace opcua {

namespace {
using Clock = std::chrono::steady_clock;
int MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}
std::mutex g_connectorMutex;
SocketConnector g_connector;

}  // namespace

void SetSocketConnector(SocketConnector connector) {
  std::lock_guard<std::mutex> lock(g_connectorMutex);
  g_connector = std::move(connector);
}

StatusCode ClientConnection::Connect(const std::string& endpointUrl, int timeoutMs, uint32_t tokenLifetimeMs) {
  Close();
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string host, path;
  uint16_t port = 0;
  if (!ParseEndpointUrl(endpointUrl, host, port, path)) return status::BadTcpEndpointUrlInvalid;
  StatusCode connected = status::Good;
  SocketConnector connector;
  {
    std::lock_guard<std::mutex> lock(g_connectorMutex);
    connector = g_connector;
  }
  m_socket = connector ? connector(host, port, timeoutMs, &connected) : Socket::Connect(host, port, timeoutMs, &connected);
  if (!m_socket.valid()) return connected;
  m_channel = std::make_unique<SecureChannel>(SecureChannel::Role::Client, m_limits);
  m_channel->Connect(endpointUrl, tokenLifetimeMs);
  m_lastFault = status::Good;
  while (!m_channel->IsOpen()) {
    const int left = MsLeft(deadline);
    if (left == 0) {
      Close();
      return status::BadTimeout;
    }
    const StatusCode s = Pump(left);
    if (s != status::Good) {
      Close();
      return s;
    }
  }
  return status::Good;
}

void ClientConnection::Close() {
  if (m_channel && m_socket.valid()) {
    m_channel->Close();
    Flush(200);
  }
  m_socket.Close();
  m_channel.reset();
  m_arrived.clear();
}

uint32_t ClientConnection::PostBody(const std::vector<uint8_t>& body) {
  if (!IsOpen()) {
    m_lastFault = status::BadNotConnected;
    return 0;
  }
  m_channel->Tick();
  const uint32_t id = m_channel->SendRequest(body);
  if (id == 0) {
    m_lastFault = status::BadRequestTooLarge;
    return 0;
  }
  const StatusCode flushed = Flush(5000);
  if (flushed != status::Good) {
    m_lastFault = flushed;
    return 0;
  }
  return id;
}

StatusCode ClientConnection::Wait(uint32_t id, std::vector<uint8_t>& body, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    SecureChannel::Message m;
    while (m_channel && m_channel->NextMessage(m)) m_arrived[m.requestId] = std::move(m.body);
    const auto found = m_arrived.find(id);
    if (found != m_arrived.end()) {
      body = std::move(found->second);
      m_arrived.erase(found);
      return status::Good;
    }
    if (!IsOpen()) return m_lastFault != status::Good ? m_lastFault : status::BadConnectionClosed;
    const int left = MsLeft(deadline);
    if (left == 0) return status::BadTimeout;
    const StatusCode s = Pump(left);
    if (s != status::Good) return s;
  }
}

StatusCode ClientConnection::Flush(int timeoutMs) {
  if (!m_channel || !m_channel->HasOutput()) return status::Good;
  const std::vector<uint8_t> out = m_channel->TakeOutput();
  if (!m_socket.SendAll(out.data(), out.size(), timeoutMs)) {
    m_socket.Close();
    return m_lastFault = status::BadConnectionClosed;
  }
  return status::Good;
}

StatusCode ClientConnection::Pump(int timeoutMs) {
  StatusCode s = Flush(timeoutMs);
  if (s != status::Good) return s;
  std::vector<uint8_t> in;
  const long n = m_socket.ReceiveSome(in, 65536, timeoutMs);
  if (n < 0) {
    m_socket.Close();
    return m_lastFault = status::BadConnectionClosed;
  }
  if (n > 0) {
    s = m_channel->Receive(in.data(), in.size());
    if (s != status::Good) {
      m_lastFault = s;
      m_socket.Close();
      return s;
    }
  }
  return Flush(timeoutMs);
}

}  // namespace opcua
