// A small TCP helper for both ends of an opc.tcp connection: RAII sockets,
// listening, accepting, connecting with a time-out, and poll()-bounded reads
// and writes. Nothing here blocks without a bound.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "opcua/statuscodes.h"

namespace opcua {

class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : m_fd(fd) {}
  Socket(Socket&& o) noexcept : m_fd(o.Release()) {}
  Socket& operator=(Socket&& o) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() { Close(); }

  int fd() const { return m_fd; }
  bool valid() const { return m_fd >= 0; }
  int Release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
  }
  void Close();

  // Listening socket on `bindAddress` ("" or "0.0.0.0" for all IPv4
  // interfaces, "::" for all, or a literal address or host name). Port 0 picks
  // a free one (see LocalPort). Non-blocking.
  static Socket Listen(const std::string& bindAddress, uint16_t port, std::string* error = nullptr);
  // Non-blocking accept; an invalid socket when no peer waits.
  Socket Accept() const;
  // Connects within `timeoutMs`.
  static Socket Connect(const std::string& host, uint16_t port, int timeoutMs, StatusCode* result = nullptr);
  uint16_t LocalPort() const;

  // Writes everything within `timeoutMs` in all; false on a closed or stuck peer.
  bool SendAll(const uint8_t* data, size_t size, int timeoutMs) const;
  // Waits up to `timeoutMs` for bytes and appends what is there (at most
  // `max`). Returns the count, 0 on time-out, -1 when the peer closed or failed.
  long ReceiveSome(std::vector<uint8_t>& out, size_t max, int timeoutMs) const;
  // Non-blocking write of what the socket takes now; returns bytes written or -1.
  long SendSome(const uint8_t* data, size_t size) const;
  void SetNonBlocking(bool on) const;

 private:
  int m_fd = -1;
};

// "opc.tcp://host:port/path": false unless the scheme is opc.tcp and the host
// is not empty. The port defaults to 4840. IPv6 literals go in brackets.
bool ParseEndpointUrl(const std::string& url, std::string& host, uint16_t& port, std::string& path);

// The machine's host name, for endpoint URLs.
std::string LocalHostName();

}  // namespace opcua
