#include "slavelink/SerialLink.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "platform/serialport.h"
#include "slavelink/RequestProcessor.h"

namespace slavelink {

namespace {

using Clock = std::chrono::steady_clock;

void SleepMs(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

uint32_t GapForBaudRate(uint32_t baudRate) {
  switch (baudRate) {
    case 300: case 600: case 1200: return 250;
    case 2400: case 4800: return 100;
    case 9600: case 14400: case 19200: return 50;
    case 38400: case 56000: case 57600: case 115200: case 128000: case 256000: return 5;
    default: return 500;
  }
}

SerialLink::SerialLink(SlavePort& record, int fd, int wakeFd) : m_record(record), m_fd(fd), m_wakeFd(wakeFd) {}

int32_t SerialLink::Open(HWND window, int32_t port, int32_t protocol, int32_t timerId,
                         const SlavePortSettings& settings) {
  if (port < 1 || port > kSerialPorts) return -1;
  LibraryState& state = State();
  SlavePort& record = state.m_serial[port - 1];
  {
    std::lock_guard lock(state.m_linksMutex);
    if (state.m_serialLinks[port - 1]) return -1;  // already ours: leave it alone
  }

  int fd = serialport::OpenDevice(serialport::DevicePath(port));
  if (fd < 0) return -1;
  // 8050 names the TCP server; a port must never share it.
  if (fd == kTcpHandle) {
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, kTcpHandle + 1);
    ::close(fd);
    if (moved < 0) return -1;
    fd = moved;
  }
  // Not shared: refuse a port another process holds, and keep others out.
  if (!serialport::ClaimLine(fd)) {
    ::close(fd);
    return -1;
  }

  const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) {
    serialport::ReleaseLine(fd);
    ::close(fd);
    return -1;
  }
  serialport::LineSettings line;
  line.baudRate = settings.baudRate;
  line.dataBits = settings.dataBits;
  line.parity = settings.parity;
  line.stopBits = settings.stopBits;
  line.ctsFlow = (settings.ctsFlow & 1) != 0;
  if (!serialport::ConfigureLine(fd, line)) {
    serialport::ReleaseLine(fd);
    ::close(wakeFd);
    ::close(fd);
    return -1;
  }

  std::shared_ptr<SerialLink> link(new SerialLink(record, fd, wakeFd));
  link->m_bRtu = protocol == SLAVELINK_PROTOCOL_RTU;
  // Only RTU frames end on a timer; an ASCII link leaves the host's timers
  // of that id alone.
  link->m_hTimerWnd = link->m_bRtu ? window : nullptr;
  link->m_nTimerId = timerId;
  link->m_nGap = GapForBaudRate(settings.baudRate);
  link->m_nPreSendDelay = settings.preSendDelay;
  link->m_nPostSendDelay = settings.postSendDelay;
  link->m_pLog = std::make_shared<TrafficLog>();
  int lines = 0;
  link->m_bModemLines = ioctl(fd, TIOCMGET, &lines) == 0;

  record.m_nOptions.store(0, std::memory_order_relaxed);
  record.m_nGoodMessages.store(0, std::memory_order_relaxed);
  record.m_nBadMessages.store(0, std::memory_order_relaxed);
  record.SetLog(link->m_pLog);
  record.m_hHandle.store(fd, std::memory_order_release);

  link->m_bRunning.store(true);
  try {
    link->m_thread = std::thread([raw = link.get()] { raw->ReaderLoop(); });
  } catch (const std::system_error&) {
    link->m_bRunning.store(false);
    record.m_hHandle.store(-1, std::memory_order_release);
    record.SetLog(nullptr);
    return -1;  // the link's destructor closes the descriptors
  }
  {
    std::lock_guard lock(state.m_linksMutex);
    state.m_serialLinks[port - 1] = std::move(link);
  }
  return fd;
}

bool SerialLink::Close(int32_t handle) {
  if (handle < 0) return false;
  LibraryState& state = State();
  std::shared_ptr<SerialLink> link;
  {
    std::lock_guard lock(state.m_linksMutex);
    for (auto& candidate : state.m_serialLinks) {
      if (candidate && candidate->m_fd == handle) {
        link = std::move(candidate);
        break;
      }
    }
  }
  if (!link) return false;
  link->Stop(true);
  return true;
}

void SerialLink::Stop(bool stopHostTimer) {
  m_bRunning.store(false);
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t ignored = ::write(m_wakeFd, &one, sizeof one);
  if (m_thread.joinable()) m_thread.join();
  if (stopHostTimer && m_hTimerWnd != nullptr) m_hTimerWnd->StopTimer(static_cast<UINT_PTR>(m_nTimerId));
  m_record.m_hHandle.store(-1, std::memory_order_release);
  m_record.SetLog(nullptr);
}

SerialLink::~SerialLink() {
  // Still running here means the library is being unloaded with the link
  // open: the host's window may be gone already, so its timer is not touched.
  if (m_thread.joinable()) Stop(false);
  if (m_fd >= 0) {
    serialport::ReleaseLine(m_fd);
    ::close(m_fd);
  }
  if (m_wakeFd >= 0) ::close(m_wakeFd);
}

size_t SerialLink::BytesWaiting() const {
  int waiting = 0;
  if (ioctl(m_fd, FIONREAD, &waiting) != 0 || waiting < 0) return 0;
  return static_cast<size_t>(waiting);
}

void SerialLink::ReaderLoop() {
  while (m_bRunning.load()) {
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno != EINTR) SleepMs(10);
      continue;
    }
    if (!m_bRunning.load()) break;
    // A new character keeps an RTU frame open: only silence after the last
    // one may end it.
    if (m_hTimerWnd != nullptr) m_hTimerWnd->StopTimer(static_cast<UINT_PTR>(m_nTimerId));
    if (!(fds[0].revents & POLLIN)) {
      // Hang-up or error without data (a pseudo-terminal whose other side is
      // closed): wait a little instead of spinning on the same report.
      if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) SleepMs(20);
      continue;
    }

    bool frameReady = false;
    bool collecting = false;
    {
      std::lock_guard lock(m_bufferMutex);
      const size_t room = kSerialBufferSize - m_nCount;
      const size_t wanted = std::min(std::max<size_t>(BytesWaiting(), 1), room);
      ssize_t got = ::read(m_fd, m_buffer.data() + m_nCount, wanted);
      if (got < 0) got = 0;
      m_record.LogBytes(m_pLog.get(), m_buffer.data() + m_nCount, static_cast<size_t>(got), true);
      m_nCount += static_cast<size_t>(got);
      if (!m_bRtu) frameReady = std::memchr(m_buffer.data(), '\n', m_nCount) != nullptr;
      collecting = m_nCount > 0;
    }
    if (!collecting) {
      // Readable yet nothing to read: a line in an odd state (hung up, say).
      // Nothing is pending, so there is no frame to end; do not spin.
      SleepMs(10);
      continue;
    }

    if (m_bRtu && m_hTimerWnd != nullptr) {
      m_hTimerWnd->StartTimer(static_cast<UINT_PTR>(m_nTimerId), m_nGap, &SerialLink::TimerProc);
    } else if (m_bRtu) {
      frameReady = AwaitRtuSilence();
    }
    if (frameReady) CompleteFrame();

    std::lock_guard lock(m_bufferMutex);
    // A frame longer than the buffer keeps overwriting its last byte and so
    // fails its check.
    if (m_nCount >= kSerialBufferSize) m_nCount = kSerialBufferSize - 1;
  }
}

bool SerialLink::AwaitRtuSilence() {
  const auto noted = Clock::now();
  const auto gap = std::chrono::milliseconds(m_nGap);
  while (m_bRunning.load()) {
    SleepMs(2);
    if (BytesWaiting() > 0) return false;
    if (Clock::now() - noted >= gap) return true;
  }
  return false;
}

void SerialLink::CompleteFrame() {
  std::array<uint8_t, kSerialBufferSize> frame;
  size_t length = 0;
  {
    std::lock_guard lock(m_bufferMutex);
    length = m_nCount;
    std::memcpy(frame.data(), m_buffer.data(), length);
    m_nCount = 0;
  }
  Reply reply;
  const std::span<const uint8_t> bytes(frame.data(), length);
  if (m_bRtu) {
    HandleRtuFrame(m_record, bytes, reply);
  } else {
    HandleAsciiFrame(m_record, bytes, reply);
  }
  if (reply.size > 0) Send(reply.bytes.data(), reply.size);
  if (reply.notify) PostNotifications();
}

void SerialLink::Send(const uint8_t* bytes, size_t length) {
  // A pseudo-terminal has no RTS line; the ioctl then fails and is ignored.
  int rts = TIOCM_RTS;
  ioctl(m_fd, TIOCMBIS, &rts);
  if (m_nPreSendDelay != 0) SleepMs(m_nPreSendDelay);

  const auto deadline = Clock::now() + std::chrono::milliseconds(2000);
  size_t sent = 0;
  while (sent < length && Clock::now() < deadline) {
    const ssize_t n = ::write(m_fd, bytes + sent, length - sent);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      break;  // the answer is lost; the master will ask again
    } else {
      pollfd out{m_fd, POLLOUT, 0};
      poll(&out, 1, 50);
    }
  }
  // Wait until the last character has left, so that RTS drops after it.
  tcdrain(m_fd);
  // What came in while the answer went out (the line's echo of it on a
  // two-wire bus) is not a request. Only that is discarded: a purge after
  // the post-send delay could also throw away the next request of a quick
  // master, which may already have read the answer. A line without modem
  // lines (a pseudo-terminal) has no echo and hands the answer over at once,
  // so nothing there is discarded.
  if (m_bModemLines) DiscardInput(BytesWaiting());
  m_record.LogBytes(m_pLog.get(), bytes, sent, false);

  if (m_nPostSendDelay != 0) SleepMs(m_nPostSendDelay);
  ioctl(m_fd, TIOCMBIC, &rts);
}

void SerialLink::DiscardInput(size_t count) {
  uint8_t scratch[256];
  while (count > 0) {
    const ssize_t n = ::read(m_fd, scratch, std::min(count, sizeof scratch));
    if (n <= 0) break;
    count -= static_cast<size_t>(n);
  }
}

void SerialLink::TimerProc(HWND window, UINT, UINT_PTR id, uint32_t) {
  LibraryState& state = State();
  std::shared_ptr<SerialLink> link;
  {
    std::lock_guard lock(state.m_linksMutex);
    for (auto& candidate : state.m_serialLinks) {
      if (candidate && candidate->m_hTimerWnd == window &&
          static_cast<UINT_PTR>(candidate->m_nTimerId) == id) {
        link = candidate;
        break;
      }
    }
  }
  // Ours in any case: a timer left over from a closed link stops here.
  window->StopTimer(id);
  if (link) link->CompleteFrame();
}

}  // namespace slavelink
