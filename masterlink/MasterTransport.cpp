#include "masterlink/MasterTransport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "masterlink/MasterPdu.h"
#include "platform/modbuswire.h"
#include "platform/serialport.h"

namespace masterlink {

void UniqueFd::Reset(int fd) {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = fd;
}

namespace {

using Clock = std::chrono::steady_clock;

// Longest frame either side may send: RTU 256 bytes, ASCII 513 characters,
// MBAP 260 bytes. Anything longer is noise.
constexpr size_t kMaxFrame = 600;

enum class Wait { Ready, Timeout, Woken, Error };

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() <= 0 ? 0 : static_cast<int>(left.count()) + 1;
}

Wait WaitFor(int fd, short events, int wakeFd, int timeoutMs) {
  pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
  const nfds_t count = wakeFd >= 0 ? 2 : 1;
  for (;;) {
    const int r = ::poll(fds, count, timeoutMs);
    if (r < 0) {
      if (errno == EINTR) continue;
      return Wait::Error;
    }
    if (r == 0) return Wait::Timeout;
    if (count == 2 && fds[1].revents != 0) return Wait::Woken;
    // A hang-up with data still to read is ready; the read that drains it
    // then reports the end.
    if ((fds[0].revents & (POLLIN | POLLOUT)) == 0) return Wait::Error;
    return Wait::Ready;
  }
}

// Writes everything or reports why not.
int32_t WriteAll(int fd, const uint8_t* data, size_t size, bool socket, int wakeFd,
                 Clock::time_point deadline) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = socket ? ::send(fd, data + done, size - done, MSG_NOSIGNAL)
                             : ::write(fd, data + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      switch (WaitFor(fd, POLLOUT, wakeFd, RemainingMs(deadline))) {
        case Wait::Ready: continue;
        case Wait::Timeout: return MLERR_TIMEOUT;
        default: return MLERR_CONNECTION_LOST;
      }
    }
    return MLERR_CONNECTION_LOST;
  }
  return 0;
}

// Reads what is there without blocking: >0 bytes, 0 nothing yet, -1 closed or failed.
ssize_t ReadSome(int fd, uint8_t* buffer, size_t size, bool socket) {
  for (;;) {
    const ssize_t n = socket ? ::recv(fd, buffer, size, 0) : ::read(fd, buffer, size);
    if (n > 0) return n;
    // A socket reads 0 at its end; a terminal in raw mode may read 0 for "nothing yet".
    if (n == 0) return socket ? -1 : 0;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return -1;
  }
}

// ---- serial ------------------------------------------------------------------

class CSerialTransport : public CMasterTransport {
 public:
  CSerialTransport(UniqueFd fd, SerialFraming framing, uint32_t baud)
      : m_fd(std::move(fd)), m_framing(framing) {
    // Four character times of silence end a run of noise; never less than 20 ms
    // so that scheduling jitter on a busy machine does not split a frame.
    const uint32_t charMicros = baud ? 11000000u / baud : 1000u;
    m_silenceMs = std::max(20, static_cast<int>(4 * charMicros / 1000 + 1));
  }
  ~CSerialTransport() override { serialport::ReleaseLine(m_fd.Get()); }

  int32_t Transact(const ModbusRequestHeader& header, const std::vector<uint8_t>& pdu,
                   std::vector<uint16_t>& words, int timeoutMs, int wakeFd) override {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // A late reply to an earlier request must not be taken for this one.
    ::tcflush(m_fd.Get(), TCIFLUSH);
    const std::vector<uint8_t> frame = Frame(header, pdu);
    const int32_t status = WriteAll(m_fd.Get(), frame.data(), frame.size(), false, wakeFd, deadline);
    if (status != 0) return status;
    return AfterSending(header, words, wakeFd, deadline);
  }

  bool TrySendNow(const ModbusRequestHeader& header, const std::vector<uint8_t>& pdu) override {
    // A broadcast ends by draining the line, which may take a while.
    if (header.nSlaveId == 0) return false;
    ::tcflush(m_fd.Get(), TCIFLUSH);
    const std::vector<uint8_t> frame = Frame(header, pdu);
    const ssize_t n = ::write(m_fd.Get(), frame.data(), frame.size());
    if (n <= 0) return false;
    m_unsent.assign(frame.begin() + n, frame.end());
    return true;
  }

  int32_t Finish(const ModbusRequestHeader& header, std::vector<uint16_t>& words, int timeoutMs,
                 int wakeFd) override {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::vector<uint8_t> rest = std::move(m_unsent);
    m_unsent.clear();
    const int32_t status = WriteAll(m_fd.Get(), rest.data(), rest.size(), false, wakeFd, deadline);
    if (status != 0) return status;
    return AfterSending(header, words, wakeFd, deadline);
  }

  int IoFd() const override { return m_fd.Get(); }

  bool DrainIdle() override {
    uint8_t chunk[256];
    while (ReadSome(m_fd.Get(), chunk, sizeof chunk, false) > 0) {
    }
    return false;
  }

 private:
  std::vector<uint8_t> Frame(const ModbusRequestHeader& header, const std::vector<uint8_t>& pdu) const {
    if (m_framing == SerialFraming::Rtu) return modbuswire::BuildRtuFrame(header.nSlaveId, pdu);
    std::vector<uint8_t> bytes;
    bytes.push_back(header.nSlaveId);
    bytes.insert(bytes.end(), pdu.begin(), pdu.end());
    const std::string line = modbuswire::EncodeAsciiFrame(bytes);
    return std::vector<uint8_t>(line.begin(), line.end());
  }

  int32_t AfterSending(const ModbusRequestHeader& header, std::vector<uint16_t>& words, int wakeFd,
                       Clock::time_point deadline) {
    if (header.nSlaveId == 0) {
      // Broadcast: no slave answers. Let the frame leave the port first.
      ::tcdrain(m_fd.Get());
      return 0;
    }
    return m_framing == SerialFraming::Rtu ? ReceiveRtu(header, words, wakeFd, deadline)
                                           : ReceiveAscii(header, words, wakeFd, deadline);
  }

  int32_t ReceiveRtu(const ModbusRequestHeader& header, std::vector<uint16_t>& words, int wakeFd,
                     Clock::time_point deadline) {
    std::vector<uint8_t> frame;
    bool noise = false;
    size_t frameSize = 0;
    for (;;) {
      if (!noise && frame.size() >= 2) {
        const std::span<const uint8_t> pdu(frame.data() + 1, frame.size() - 1);
        const uint8_t function = frame[1];
        if (function != header.nFunction && function != (header.nFunction | 0x80)) {
          noise = true;
        } else if (const size_t pduSize = ExpectedReplyPduSize(header, pdu); pduSize != 0) {
          frameSize = 1 + pduSize + 2;
          if (frame.size() >= frameSize) break;
        }
      }
      const int left = RemainingMs(deadline);
      const int waitMs = noise ? std::min(left, m_silenceMs) : left;
      const Wait w = WaitFor(m_fd.Get(), POLLIN, wakeFd, waitMs);
      if (w == Wait::Woken || w == Wait::Error) return MLERR_CONNECTION_LOST;
      if (w == Wait::Timeout) {
        // Noise that has gone quiet is a reply that does not fit the request.
        if (noise) return MLERR_MISMATCH;
        return MLERR_TIMEOUT;
      }
      uint8_t chunk[256];
      const ssize_t n = ReadSome(m_fd.Get(), chunk, sizeof chunk, false);
      if (n < 0) return MLERR_CONNECTION_LOST;
      frame.insert(frame.end(), chunk, chunk + n);
      if (frame.size() > kMaxFrame) noise = true;
    }
    frame.resize(frameSize);
    if (!modbuswire::CheckRtuFrame(frame)) return MLERR_BAD_CHECKSUM;
    if (frame[0] != header.nSlaveId) return MLERR_MISMATCH;
    return DecodeReplyPdu(header, std::span<const uint8_t>(frame.data() + 1, frameSize - 3), words);
  }

  int32_t ReceiveAscii(const ModbusRequestHeader& header, std::vector<uint16_t>& words, int wakeFd,
                       Clock::time_point deadline) {
    std::string line;
    for (;;) {
      const Wait w = WaitFor(m_fd.Get(), POLLIN, wakeFd, RemainingMs(deadline));
      if (w == Wait::Woken || w == Wait::Error) return MLERR_CONNECTION_LOST;
      if (w == Wait::Timeout) return line.empty() ? MLERR_TIMEOUT : MLERR_MISMATCH;
      uint8_t chunk[256];
      const ssize_t n = ReadSome(m_fd.Get(), chunk, sizeof chunk, false);
      if (n < 0) return MLERR_CONNECTION_LOST;
      for (ssize_t i = 0; i < n; ++i) {
        const char c = static_cast<char>(chunk[i]);
        // A colon always starts a frame afresh; bytes before it are line noise.
        if (c == ':') line.assign(1, c);
        else if (!line.empty()) line.push_back(c);
        if (c == '\n' && !line.empty()) return DecodeAsciiLine(header, line, words);
        if (line.size() > kMaxFrame) line.clear();
      }
    }
  }

  static int32_t DecodeAsciiLine(const ModbusRequestHeader& header, const std::string& line,
                                 std::vector<uint16_t>& words) {
    std::vector<uint8_t> bytes;
    switch (modbuswire::DecodeAsciiFrame(std::span<const char>(line.data(), line.size()), bytes)) {
      case modbuswire::AsciiCheck::Ok: break;
      case modbuswire::AsciiCheck::BadLrc: return MLERR_BAD_CHECKSUM;
      default: return MLERR_MISMATCH;
    }
    if (bytes.size() < 2 || bytes[0] != header.nSlaveId) return MLERR_MISMATCH;
    return DecodeReplyPdu(header, std::span<const uint8_t>(bytes.data() + 1, bytes.size() - 1), words);
  }

  UniqueFd m_fd;
  SerialFraming m_framing;
  int m_silenceMs = 20;
  std::vector<uint8_t> m_unsent;  // what TrySendNow could not write at once
};

// ---- Modbus/TCP ---------------------------------------------------------------

UniqueFd ConnectSocket(uint32_t addressNetOrder, uint16_t port, int timeoutMs, int wakeFd) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.IsValid()) return {};
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = addressNetOrder;
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno != EINPROGRESS) return {};
    if (WaitFor(fd.Get(), POLLOUT, wakeFd, timeoutMs) != Wait::Ready) return {};
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) return {};
  }
  const int one = 1;
  // Requests are small and strictly one at a time: do not let Nagle hold them.
  ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

class CTcpTransport : public CMasterTransport {
 public:
  CTcpTransport(UniqueFd fd, uint32_t address, uint16_t port, std::function<void(bool)> linkChanged)
      : m_fd(std::move(fd)), m_nAddress(address), m_nPort(port), m_linkChanged(std::move(linkChanged)) {}

  int32_t Transact(const ModbusRequestHeader& header, const std::vector<uint8_t>& pdu,
                   std::vector<uint16_t>& words, int timeoutMs, int wakeFd) override {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    DropIfClosedByPeer();
    if (!m_fd.IsValid()) {
      m_fd = ConnectSocket(m_nAddress, m_nPort, timeoutMs, wakeFd);
      if (!m_fd.IsValid()) return MLERR_CONNECTION_LOST;
      if (m_linkChanged) m_linkChanged(true);
    }
    m_nSent = ++m_nTransaction;
    const std::vector<uint8_t> frame = modbuswire::BuildMbapFrame(m_nSent, 0, header.nSlaveId, pdu);
    const int32_t status = WriteAll(m_fd.Get(), frame.data(), frame.size(), true, wakeFd, deadline);
    if (status != 0) return Drop(status);
    if (header.nSlaveId == 0) return 0;
    return Receive(header, m_nSent, words, wakeFd, deadline);
  }

  bool TrySendNow(const ModbusRequestHeader& header, const std::vector<uint8_t>& pdu) override {
    // Connecting may wait, and a dropped link is announced: both are the
    // worker's business. So are stray bytes waiting to be discarded, and a
    // broadcast, which no reply would ever wake the worker for.
    if (!m_fd.IsValid() || header.nSlaveId == 0) return false;
    uint8_t probe;
    const ssize_t waiting = ::recv(m_fd.Get(), &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (!(waiting < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))) return false;
    const uint16_t transaction = static_cast<uint16_t>(m_nTransaction + 1);
    const std::vector<uint8_t> frame = modbuswire::BuildMbapFrame(transaction, 0, header.nSlaveId, pdu);
    const ssize_t n = ::send(m_fd.Get(), frame.data(), frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n <= 0) return false;
    m_nSent = m_nTransaction = transaction;
    m_unsent.assign(frame.begin() + n, frame.end());
    return true;
  }

  int32_t Finish(const ModbusRequestHeader& header, std::vector<uint16_t>& words, int timeoutMs,
                 int wakeFd) override {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::vector<uint8_t> rest = std::move(m_unsent);
    m_unsent.clear();
    const int32_t status = WriteAll(m_fd.Get(), rest.data(), rest.size(), true, wakeFd, deadline);
    if (status != 0) return Drop(status);
    if (header.nSlaveId == 0) return 0;
    return Receive(header, m_nSent, words, wakeFd, deadline);
  }

  int IoFd() const override { return m_fd.Get(); }

  bool DrainIdle() override {
    for (;;) {
      uint8_t chunk[512];
      const ssize_t n = ::recv(m_fd.Get(), chunk, sizeof chunk, MSG_DONTWAIT);
      if (n > 0) continue;
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
      m_fd.Reset();
      return true;
    }
  }

  void AnnounceLinkDown() override {
    if (m_linkChanged) m_linkChanged(false);
  }

 private:
  int32_t Receive(const ModbusRequestHeader& header, uint16_t transaction, std::vector<uint16_t>& words,
                  int wakeFd, Clock::time_point deadline) {
    std::vector<uint8_t> buffer;
    for (;;) {
      // Take every complete frame in the buffer; replies to earlier requests
      // that came too late are skipped by their transaction id.
      while (buffer.size() >= modbuswire::kMbapHeaderSize) {
        modbuswire::MbapHeader mbap;
        modbuswire::ParseMbapHeader(buffer, mbap);
        if (mbap.protocolId != 0 || mbap.length < 2 || mbap.length > 254) {
          // The byte stream has lost its framing; only a new connection recovers it.
          return Drop(MLERR_MISMATCH);
        }
        const size_t size = modbuswire::MbapFrameSize(buffer);
        if (buffer.size() < size) break;
        if (mbap.transactionId == transaction) {
          if (mbap.unitId != header.nSlaveId) return MLERR_MISMATCH;
          return DecodeReplyPdu(
              header, std::span<const uint8_t>(buffer.data() + modbuswire::kMbapHeaderSize,
                                               size - modbuswire::kMbapHeaderSize),
              words);
        }
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size));
      }
      const Wait w = WaitFor(m_fd.Get(), POLLIN, wakeFd, RemainingMs(deadline));
      if (w == Wait::Woken || w == Wait::Error) return MLERR_CONNECTION_LOST;
      if (w == Wait::Timeout) return MLERR_TIMEOUT;
      uint8_t chunk[512];
      const ssize_t n = ReadSome(m_fd.Get(), chunk, sizeof chunk, true);
      if (n < 0) return Drop(MLERR_CONNECTION_LOST);
      buffer.insert(buffer.end(), chunk, chunk + n);
    }
  }

  // Before each request: forget a connection the server has closed, and
  // discard stray bytes (late replies) so that they cannot be mistaken.
  void DropIfClosedByPeer() {
    if (!m_fd.IsValid()) return;
    for (;;) {
      uint8_t chunk[512];
      const ssize_t n = ::recv(m_fd.Get(), chunk, sizeof chunk, MSG_DONTWAIT);
      if (n > 0) continue;
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      Drop(MLERR_CONNECTION_LOST);
      return;
    }
  }

  int32_t Drop(int32_t status) {
    if (m_fd.IsValid()) {
      m_fd.Reset();
      if (m_linkChanged) m_linkChanged(false);
    }
    return status;
  }

  UniqueFd m_fd;
  uint32_t m_nAddress;
  uint16_t m_nPort;
  uint16_t m_nTransaction = 0;
  uint16_t m_nSent = 0;            // transaction id of the request on its way
  std::vector<uint8_t> m_unsent;   // what TrySendNow could not write at once
  std::function<void(bool)> m_linkChanged;
};

}  // namespace

std::unique_ptr<CMasterTransport> OpenSerialTransport(int port, SerialFraming framing,
                                                      const MasterPortSettings& settings) {
  UniqueFd fd(serialport::OpenDevice(serialport::DevicePath(port)));
  if (!fd.IsValid()) return nullptr;
  // Not shared: a second master or another program on the line would take
  // each other's replies.
  if (!serialport::ClaimLine(fd.Get())) return nullptr;
  serialport::LineSettings line;
  line.baudRate = settings.dwBaudRate;
  line.dataBits = settings.byDataBits;
  line.parity = settings.byParity;
  line.stopBits = settings.byStopBits;
  if (!serialport::ConfigureLine(fd.Get(), line)) {
    serialport::ReleaseLine(fd.Get());
    return nullptr;
  }
  ::tcflush(fd.Get(), TCIOFLUSH);
  return std::make_unique<CSerialTransport>(std::move(fd), framing, settings.dwBaudRate);
}

std::unique_ptr<CMasterTransport> OpenTcpTransport(uint32_t addressNetOrder, uint16_t port,
                                                   int timeoutMs,
                                                   std::function<void(bool)> linkChanged) {
  UniqueFd fd = ConnectSocket(addressNetOrder, port, timeoutMs, -1);
  if (!fd.IsValid()) return nullptr;
  return std::make_unique<CTcpTransport>(std::move(fd), addressNetOrder, port, std::move(linkChanged));
}

}  // namespace masterlink
