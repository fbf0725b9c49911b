// Helpers shared by the slave library's tests: a clean library state, a
// recorder for the write callback, frame builders and small socket and
// pseudo-terminal utilities.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/modbuswire.h"
#include "slavelink/SlaveState.h"
#include "slavelink/SerialLink.h"
#include "slavelink/TcpServer.h"
#include "slavelink/slavelink.h"

namespace slavetest {

using Bytes = std::vector<uint8_t>;

inline Bytes B(std::initializer_list<int> list) {
  Bytes v;
  for (int b : list) v.push_back(static_cast<uint8_t>(b));
  return v;
}

inline Bytes Rtu(std::initializer_list<int> slaveAndPdu) {
  Bytes v = B(slaveAndPdu);
  modbuswire::AppendCrc(v);
  return v;
}

inline Bytes Ascii(std::initializer_list<int> slaveAndPdu) {
  const Bytes v = B(slaveAndPdu);
  const std::string line = modbuswire::EncodeAsciiFrame(v);
  return Bytes(line.begin(), line.end());
}

inline Bytes AsBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline uint16_t Peek(uint16_t& word) { return slavelink::LoadWord(&word); }
inline void Poke(uint16_t& word, uint16_t value) { slavelink::StoreWord(&word, value); }

struct WriteRecord {
  uint8_t slaveId;
  uint8_t type;
  uint16_t point;
  uint16_t value;
  bool operator==(const WriteRecord&) const = default;
};

// Collects write callbacks from whichever library thread makes them.
class WriteRecorder {
 public:
  static WriteRecorder& Instance() {
    static WriteRecorder recorder;
    return recorder;
  }
  static void Callback(uint8_t slaveId, uint8_t type, uint16_t point, uint16_t value) {
    Instance().Add({slaveId, type, point, value});
  }
  void Add(WriteRecord r) {
    std::lock_guard lock(m_mutex);
    m_records.push_back(r);
  }
  std::vector<WriteRecord> Take() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_records, {});
  }

 private:
  std::mutex m_mutex;
  std::vector<WriteRecord> m_records;
};

// Every test starts from an empty table without callbacks.
inline void ResetLibrary() {
  for (int handle = 1; handle <= slavelink::kTableSize; ++handle) RemoveDataBlock(handle);
  EnableCallback(nullptr);
  EnableBufferCallback(nullptr);
  WriteRecorder::Instance().Take();
}

// Waits up to `timeoutMs` for the condition.
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 3000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return condition();
}

// ---- sockets ----------------------------------------------------------------

class TcpClient {
 public:
  explicit TcpClient(uint16_t port) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(m_fd);
      m_fd = -1;
    }
    const int on = 1;
    if (m_fd >= 0) setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  ~TcpClient() { Close(); }
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;

  bool Connected() const { return m_fd >= 0; }
  void Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }
  bool Send(const Bytes& bytes) const {
    return m_fd >= 0 && ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // Reads until `count` bytes came or the time is up.
  Bytes Receive(size_t count, int timeoutMs = 2000) const { return ReadFd(m_fd, count, timeoutMs); }
  // True when the server closed the connection within the time.
  bool PeerClosed(int timeoutMs) const {
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    uint8_t b;
    // A close with our bytes still unread by the server arrives as a reset.
    const ssize_t n = ::recv(m_fd, &b, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno == ECONNRESET);
  }
  int Fd() const { return m_fd; }

  static Bytes ReadFd(int fd, size_t count, int timeoutMs) {
    Bytes out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) break;
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
      uint8_t buffer[4096];
      const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, count - out.size()));
      if (n <= 0) break;
      out.insert(out.end(), buffer, buffer + n);
    }
    return out;
  }

 private:
  int m_fd = -1;
};

// Starts the TCP server on an ephemeral port and returns the port it
// listens on (0 on failure).
inline uint16_t StartTcpServer(MessageTarget* window = nullptr, uint32_t failureMessage = 0) {
  SetTCPServicePort(0);
  if (OpenTCPConnection(window, failureMessage) != 8050) return 0;
  uint16_t port = 0;
  WaitFor([&] { return (port = slavelink::TcpListeningPort()) != 0; });
  return port;
}

// ---- pseudo-terminals ---------------------------------------------------

// A pseudo-terminal pair: the library opens the slave side through
// PLEXMAR_COMn, the test plays the master on the other side.
class PtyPair {
 public:
  explicit PtyPair(int comPort) : m_comPort(comPort) {
    int slave = -1;
    if (openpty(&m_master, &slave, nullptr, nullptr, nullptr) != 0) return;
    termios tio{};
    tcgetattr(m_master, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_master, TCSANOW, &tio);
    m_device = ttyname(slave);
    // Keeping the slave side open ourselves keeps the line up between the
    // library's opens and closes.
    m_holdSlave = slave;
    setenv(("PLEXMAR_COM" + std::to_string(comPort)).c_str(), m_device.c_str(), 1);
  }
  ~PtyPair() {
    unsetenv(("PLEXMAR_COM" + std::to_string(m_comPort)).c_str());
    if (m_master >= 0) ::close(m_master);
    if (m_holdSlave >= 0) ::close(m_holdSlave);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool Ok() const { return m_master >= 0; }
  int MasterFd() const { return m_master; }
  // Hangs the line up, as a cable pulled from the master's side.
  void CloseMaster() {
    if (m_master >= 0) ::close(m_master);
    m_master = -1;
  }
  const std::string& Device() const { return m_device; }
  bool Write(const Bytes& bytes) const {
    return ::write(m_master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  Bytes Read(size_t count, int timeoutMs = 2000) const { return TcpClient::ReadFd(m_master, count, timeoutMs); }
  // Everything that arrives within the time.
  Bytes ReadAll(int timeoutMs) const { return TcpClient::ReadFd(m_master, 1 << 16, timeoutMs); }

 private:
  int m_comPort;
  int m_master = -1;
  int m_holdSlave = -1;
  std::string m_device;
};

inline SlavePortSettings Settings(uint32_t baud, uint8_t pre = 0, uint8_t post = 0) {
  SlavePortSettings s{};
  s.baudRate = baud;
  s.dataBits = 8;
  s.parity = 0;
  s.stopBits = 0;
  s.preSendDelay = pre;
  s.postSendDelay = post;
  return s;
}

}  // namespace slavetest
