#include "MasterTestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "platform/modbuswire.h"

namespace mltest {

using Clock = std::chrono::steady_clock;

bool CRecordingWindow::Post(UINT message, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard lock(m_mutex);
    m_messages.push_back({message, wParam, lParam});
  }
  m_arrived.notify_all();
  return true;
}

bool CRecordingWindow::WaitFor(UINT message, size_t count, int timeoutMs) {
  std::unique_lock lock(m_mutex);
  return m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    size_t n = 0;
    for (const auto& m : m_messages) n += m.message == message;
    return n >= count;
  });
}

size_t CRecordingWindow::Count(UINT message) const {
  std::lock_guard lock(m_mutex);
  size_t n = 0;
  for (const auto& m : m_messages) n += m.message == message;
  return n;
}

std::vector<PostedMessage> CRecordingWindow::Messages() const {
  std::lock_guard lock(m_mutex);
  return m_messages;
}

Outcome Transact(CRecordingWindow& window, int32_t handle, uint8_t slave, uint8_t function,
                 uint16_t address, uint16_t count, const std::vector<uint16_t>& data, int waitMs) {
  Outcome outcome;
  const size_t before = window.Count(kRspMessage);
  const ModbusRequestHeader header{slave, function, address, count};
  const auto start = Clock::now();
  outcome.accepted = function >= 15 ? WriteMODBUS(handle, &header, data.data()) : PollMODBUS(handle, &header);
  if (outcome.accepted != 0) return outcome;
  if (!window.WaitFor(kRspMessage, before + 1, waitMs)) return outcome;
  outcome.elapsedMs =
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  uint16_t words[200] = {};
  outcome.status = MODBUSResponse(handle, &outcome.header, words, 200);
  if (outcome.status == 0 && function <= 4) outcome.words.assign(words, words + count);
  return outcome;
}

bool WaitUntilLineCarries(CRecordingWindow& window, int32_t handle, uint8_t slave, int attempts) {
  int inARow = 0;
  for (int i = 0; i < attempts && inARow < 2; ++i) {
    const bool answered = Transact(window, handle, slave, 3, 1, 1).status == 0;
    inARow = answered ? inARow + 1 : 0;
    // Quiet after each attempt: a late answer arrives while the master idles.
    ::usleep(answered ? 300000 : 500000);
  }
  return inARow == 2;
}

bool CChildProcess::Start(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  m_pid = ::fork();
  if (m_pid < 0) return false;
  if (m_pid == 0) {
    // A test that crashes or is killed on its time-out takes its peers along.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  return true;
}

void CChildProcess::Stop() {
  if (m_pid <= 0) return;
  ::kill(m_pid, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
      m_pid = -1;
      return;
    }
    ::usleep(20000);
  }
  ::kill(m_pid, SIGKILL);
  ::waitpid(m_pid, nullptr, 0);
  m_pid = -1;
}

uint32_t Loopback() { return htonl(INADDR_LOOPBACK); }

int32_t ConnectTcpWhenReady(uint16_t port, HWND window, int timeoutMs, uint32_t replyTimeoutMs) {
  const TcpConnectRecord record{window, kRspMessage, WM_USER + 4, 1, replyTimeoutMs};
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    const int32_t handle = ConnectTCP2(Loopback(), port, &record);
    if (handle != -1) return handle;
    ::usleep(50000);
  }
  return -1;
}

bool HavePymodbus() {
  return ::access("/usr/bin/python3", X_OK) == 0 &&
         std::system("/usr/bin/python3 -c 'import pymodbus' >/dev/null 2>&1") == 0;
}

std::string TestSourceDir() { return std::string(PLEXMAR_SOURCE_DIR) + "/tests/masterlink"; }

bool PtyPair::Open() {
  int slave = -1;
  char name[128] = {};
  if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return false;
  termios tio{};
  ::tcgetattr(master, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(master, TCSANOW, &tio);
  // The slave side stays open here too, so that the pair survives the
  // library closing and reopening its end.
  slavePath = name;
  slaveKeepAlive = slave;
  return true;
}

PtyPair::~PtyPair() {
  if (master >= 0) ::close(master);
  if (slaveKeepAlive >= 0) ::close(slaveKeepAlive);
}

std::vector<uint8_t> ReadFrame(int fd, const std::function<bool(const std::vector<uint8_t>&)>& complete,
                               int timeoutMs) {
  std::vector<uint8_t> bytes;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!complete(bytes)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    uint8_t chunk[512];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) {
      ::usleep(5000);
      continue;
    }
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  return bytes;
}

CScriptedTcpServer::CScriptedTcpServer(Respond respond) : m_respond(std::move(respond)) {
  m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::listen(m_listenFd, 8);
  ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
  m_port = ntohs(addr.sin_port);
  [[maybe_unused]] int rc = ::pipe(m_stopPipe);
  m_thread = std::thread([this] { Run(); });
}

CScriptedTcpServer::~CScriptedTcpServer() {
  [[maybe_unused]] ssize_t n = ::write(m_stopPipe[1], "x", 1);
  m_thread.join();
  ::close(m_listenFd);
  ::close(m_stopPipe[0]);
  ::close(m_stopPipe[1]);
}

void CScriptedTcpServer::Run() {
  std::vector<int> clients;
  std::vector<std::vector<uint8_t>> buffers;
  for (;;) {
    std::vector<pollfd> fds{{m_stopPipe[0], POLLIN, 0}, {m_listenFd, POLLIN, 0}};
    for (int c : clients) fds.push_back({c, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0) continue;
    if (fds[0].revents) break;
    if (fds[1].revents) {
      const int c = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (c >= 0) {
        clients.push_back(c);
        buffers.emplace_back();
        ++m_accepted;
      }
    }
    // A client accepted just now is not in this round's poll set.
    for (size_t i = 0; i < clients.size() && i + 2 < fds.size(); ++i) {
      if (!fds[i + 2].revents) continue;
      uint8_t chunk[512];
      const ssize_t n = ::recv(clients[i], chunk, sizeof chunk, 0);
      bool close = n <= 0;
      if (n > 0) buffers[i].insert(buffers[i].end(), chunk, chunk + n);
      while (!close && buffers[i].size() >= 7 && buffers[i].size() >= modbuswire::MbapFrameSize(buffers[i])) {
        const size_t size = modbuswire::MbapFrameSize(buffers[i]);
        std::vector<uint8_t> request(buffers[i].begin(), buffers[i].begin() + static_cast<long>(size));
        buffers[i].erase(buffers[i].begin(), buffers[i].begin() + static_cast<long>(size));
        ++m_requests;
        const auto reply = m_respond(request, close);
        if (reply && !close) ::send(clients[i], reply->data(), reply->size(), MSG_NOSIGNAL);
      }
      if (close) {
        ::close(clients[i]);
        clients.erase(clients.begin() + static_cast<long>(i));
        buffers.erase(buffers.begin() + static_cast<long>(i));
        break;  // the poll set no longer lines up with the clients
      }
    }
  }
  for (int c : clients) ::close(c);
}

}  // namespace mltest
