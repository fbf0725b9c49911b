#include "opcua/socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace opcua {

Socket& Socket::operator=(Socket&& o) noexcept {
  if (this != &o) {
    Close();
    m_fd = o.Release();
  }
  return *this;
}

void Socket::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

void Socket::SetNonBlocking(bool on) const {
  const int flags = ::fcntl(m_fd, F_GETFL, 0);
  ::fcntl(m_fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}

Socket Socket::Listen(const std::string& bindAddress, uint16_t port, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  const std::string service = std::to_string(port);
  addrinfo* found = nullptr;
  const char* node = bindAddress.empty() ? nullptr : bindAddress.c_str();
  if (node == nullptr) hints.ai_family = AF_INET;
  const int rc = ::getaddrinfo(node, service.c_str(), &hints, &found);
  if (rc != 0) {
    if (error) *error = ::gai_strerror(rc);
    return Socket();
  }
  Socket result;
  std::string lastError = "no address";
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    Socket s(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol));
    if (!s.valid()) continue;
    const int one = 1;
    ::setsockopt(s.fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(s.fd(), a->ai_addr, a->ai_addrlen) != 0 || ::listen(s.fd(), 64) != 0) {
      lastError = std::strerror(errno);
      continue;
    }
    s.SetNonBlocking(true);
    result = std::move(s);
    break;
  }
  ::freeaddrinfo(found);
  if (!result.valid() && error) *error = lastError;
  return result;
}

Socket Socket::Accept() const {
  Socket s(::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
  if (s.valid()) {
    const int one = 1;
    ::setsockopt(s.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  return s;
}

Socket Socket::Connect(const std::string& host, uint16_t port, int timeoutMs, StatusCode* result) {
  if (result) *result = status::BadNotConnected;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return Socket();
  Socket connected;
  for (addrinfo* a = found; a != nullptr && !connected.valid(); a = a->ai_next) {
    Socket s(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol));
    if (!s.valid()) continue;
    if (::connect(s.fd(), a->ai_addr, a->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) continue;
      pollfd p{s.fd(), POLLOUT, 0};
      if (::poll(&p, 1, timeoutMs) != 1) {
        if (result) *result = status::BadTimeout;
        continue;
      }
      int err = 0;
      socklen_t len = sizeof err;
      ::getsockopt(s.fd(), SOL_SOCKET, SO_ERROR, &err, &len);
      if (err != 0) continue;
    }
    const int one = 1;
    ::setsockopt(s.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    connected = std::move(s);
  }
  ::freeaddrinfo(found);
  if (connected.valid() && result) *result = status::Good;
  return connected;
}

uint16_t Socket::LocalPort() const {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  if (addr.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
  if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
  return 0;
}

long Socket::SendSome(const uint8_t* data, size_t size) const {
  const ssize_t n = ::send(m_fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n >= 0) return n;
  return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 0 : -1;
}

bool Socket::SendAll(const uint8_t* data, size_t size, int timeoutMs) const {
  using clock = std::chrono::steady_clock;
  const auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs);
  size_t sent = 0;
  while (sent < size) {
    const long n = SendSome(data + sent, size - sent);
    if (n < 0) return false;
    sent += static_cast<size_t>(n);
    if (sent == size) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
    if (left <= 0) return false;
    pollfd p{m_fd, POLLOUT, 0};
    if (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) return false;
  }
  return true;
}

long Socket::ReceiveSome(std::vector<uint8_t>& out, size_t max, int timeoutMs) const {
  pollfd p{m_fd, POLLIN, 0};
  const int ready = ::poll(&p, 1, timeoutMs);
  if (ready == 0) return 0;
  if (ready < 0) return errno == EINTR ? 0 : -1;
  const size_t old = out.size();
  out.resize(old + max);
  const ssize_t n = ::recv(m_fd, out.data() + old, max, MSG_DONTWAIT);
  if (n <= 0) {
    out.resize(old);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    return -1;
  }
  out.resize(old + static_cast<size_t>(n));
  return n;
}

bool ParseEndpointUrl(const std::string& url, std::string& host, uint16_t& port, std::string& path) {
  const std::string scheme = "opc.tcp://";
  if (url.size() <= scheme.size()) return false;
  for (size_t i = 0; i < scheme.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(url[i])) != scheme[i]) return false;
  std::string rest = url.substr(scheme.size());
  const size_t slash = rest.find('/');
  path = slash == std::string::npos ? std::string() : rest.substr(slash);
  std::string authority = rest.substr(0, slash);
  std::string portText;
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos) return false;
    host = authority.substr(1, close - 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') return false;
      portText = authority.substr(close + 2);
    }
  } else {
    const size_t colon = authority.rfind(':');
    host = authority.substr(0, colon);
    if (colon != std::string::npos) portText = authority.substr(colon + 1);
  }
  if (host.empty()) return false;
  port = 4840;
  if (!portText.empty()) {
    unsigned long value = 0;
    for (char c : portText) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + static_cast<unsigned long>(c - '0');
      if (value > 65535) return false;
    }
    if (value == 0) return false;
    port = static_cast<uint16_t>(value);
  }
  return true;
}

std::string LocalHostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

}  // namespace opcua
