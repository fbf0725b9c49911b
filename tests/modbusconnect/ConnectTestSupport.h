// Shared by the connection command tests: a host that records message boxes,
// a listener on loopback, and a free port.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/HostUi.h"

class CRecordingHost : public IHostUi {
 public:
  void MessageBox(const std::string& text) override { m_messages.push_back(text); }
  int ShowForm(const std::string&) override { return 0; }
  int HideForm(const std::string&) override { return 0; }
  std::vector<std::string> m_messages;
};

// A listening socket on 127.0.0.1 that accepts in the kernel's backlog.
class CLoopbackListener {
 public:
  CLoopbackListener() {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(m_fd, 4);
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
  }
  ~CLoopbackListener() { ::close(m_fd); }
  uint16_t Port() const { return m_port; }

 private:
  int m_fd = -1;
  uint16_t m_port = 0;
};

// A port nobody listens on a moment later.
inline uint16_t UnusedPort() {
  CLoopbackListener probe;
  return probe.Port();
}
