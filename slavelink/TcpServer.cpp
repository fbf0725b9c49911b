#include "slavelink/TcpServer.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/modbuswire.h"
#include "slavelink/RequestProcessor.h"

namespace slavelink {

namespace {
// The server whose window MBAPWndProc serves. Replaced only after the
// previous server's thread has been joined.
std::atomic<TcpServer*> g_server{nullptr};
}  // namespace

std::span<const uint8_t> MbapReceiver::Request() const {
  const std::span<const uint8_t> held(m_buffer.data(), m_nCount);
  const size_t needed = modbuswire::MbapFrameSize(held);
  if (needed == 0 || m_nCount < needed) return {};
  return held.first(needed);
}

TcpServer::TcpServer(HWND hostWindow, UINT failureMessage, uint16_t port, std::shared_ptr<TrafficLog> log)
    : m_hHostWnd(hostWindow), m_nFailureMessage(failureMessage), m_nPort(port), m_pLog(std::move(log)) {
  g_server.store(this);
  m_pWindow = std::make_unique<ThreadMessageTarget>(&MBAPWndProc);
  m_pWindow->Post(kWmCreate, 0, 0);
}

TcpServer::~TcpServer() {
  if (m_pWindow) m_pWindow->Stop();
  // The thread has ended: whatever it left open is ours to close.
  for (int slot = 0; slot < kTcpSlots; ++slot) {
    if (m_slots[slot].m_socket >= 0) ::close(m_slots[slot].m_socket);
  }
  if (m_listenSocket >= 0) ::close(m_listenSocket);
  m_pWindow.reset();
  TcpServer* self = this;
  g_server.compare_exchange_strong(self, nullptr);
}

void TcpServer::RequestClose() {
  if (m_pWindow) m_pWindow->Post(kMsgCloseRequest, 0, 0);
}

bool TcpServer::WaitClosed(std::chrono::milliseconds timeout) {
  if (m_pWindow->IsLoopThread()) return false;
  std::unique_lock lock(m_closedMutex);
  return m_closedChanged.wait_for(lock, timeout, [this] { return m_bClosed; });
}

void TcpServer::MarkClosed() {
  {
    std::lock_guard lock(m_closedMutex);
    m_bClosed = true;
  }
  m_closedChanged.notify_all();
}

LRESULT TcpServer::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kWmCreate) {
    OnCreate();
  } else if (message == kWmDestroy) {
    OnDestroy();
  } else if (message == WM_TIMER && wParam == kIdleTimerId) {
    OnIdleCheck();
  } else if (message == kMsgCloseRequest) {
    // The window destroys itself; the thread ends with it.
    WndProc(kWmDestroy, 0, 0);
    m_pWindow->Stop();
    MarkClosed();
  } else if (message == kMsgAccept) {
    OnAccept(lParam);
  } else if (message >= kMsgConnection && message < kMsgConnection + kTcpSlots) {
    OnConnection(static_cast<int>(message - kMsgConnection), lParam);
  }
  return 0;
}

void TcpServer::OnCreate() {
  m_listenSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (m_listenSocket < 0) return;  // a window without a listener, as the host was promised 8050
  // Lets a restarted server take its port back while old connections linger
  // in TIME_WAIT; a port someone listens on is still refused.
  const int on = 1;
  setsockopt(m_listenSocket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(m_nPort);
  if (::bind(m_listenSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(m_listenSocket, 1) != 0) {
    ::close(m_listenSocket);
    m_listenSocket = -1;
    if (m_hHostWnd != nullptr) m_hHostWnd->Post(m_nFailureMessage, 0, 0);
    State().m_bTcpRunning.store(false);
    m_pWindow->Stop();  // creation refused: the thread ends
    MarkClosed();
    return;
  }
  socklen_t length = sizeof address;
  if (getsockname(m_listenSocket, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    m_nListeningPort.store(ntohs(address.sin_port));
  }
  for (Slot& slot : m_slots) {
    slot.m_socket = -1;
    slot.m_receiver.Clear();
  }
  WatchListener();
  m_pWindow->StartTimer(kIdleTimerId, kIdleCheckPeriodMs, nullptr);
}

void TcpServer::OnDestroy() {
  for (int slot = 0; slot < kTcpSlots; ++slot) CloseSlot(slot);
  if (m_listenSocket >= 0) {
    m_pWindow->UnwatchFd(m_listenSocket);
    ::close(m_listenSocket);
    m_listenSocket = -1;
  }
  m_pWindow->StopTimer(kIdleTimerId);
  m_nListeningPort.store(0);
}

void TcpServer::WatchListener() {
  HWND window = m_pWindow.get();
  m_pWindow->WatchFd(m_listenSocket, POLLIN, [window](int fd, short) {
    MBAPWndProc(window, kMsgAccept, static_cast<WPARAM>(fd), kFdAccept);
  });
  m_bAcceptPaused = false;
}

void TcpServer::WatchSlot(int slot) {
  HWND window = m_pWindow.get();
  Slot* record = &m_slots[slot];
  // With a full buffer nothing more is read, so only the peer's close is
  // still of interest; watching input then would spin on unread data.
  const bool full = record->m_receiver.Full();
  const short events = static_cast<short>(full ? POLLRDHUP : (POLLIN | POLLRDHUP));
  m_pWindow->WatchFd(record->m_socket, events, [window, slot, full](int fd, short revents) {
    // Readable is a read event; the read itself finds an orderly close (it
    // returns nothing) and handles it as the close event that follows.
    LPARAM event = 0;
    if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
      event = kFdClose;
    } else if (!full && (revents & POLLIN)) {
      event = kFdRead;
    } else if (revents & POLLRDHUP) {
      event = kFdClose;
    }
    if (event != 0) MBAPWndProc(window, kMsgConnection + static_cast<UINT>(slot), static_cast<WPARAM>(fd), event);
  });
}

void TcpServer::OnAccept(LPARAM event) {
  int free = -1;
  for (int slot = 0; slot < kTcpSlots; ++slot) {
    if (m_slots[slot].m_socket < 0) {
      free = slot;
      break;
    }
  }
  if (free < 0) {
    // The connection waits in the backlog; listening resumes when a slot
    // is freed. Watching meanwhile would report the same waiting peer forever.
    m_pWindow->UnwatchFd(m_listenSocket);
    m_bAcceptPaused = true;
    return;
  }
  if (event != kFdAccept) return;

  Slot& slot = m_slots[free];
  socklen_t length = sizeof slot.m_peer;
  const int socket = ::accept4(m_listenSocket, reinterpret_cast<sockaddr*>(&slot.m_peer), &length,
                               SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (socket < 0) return;
  const int on = 1;
  setsockopt(socket, IPPROTO_TCP, 1 /* TCP_NODELAY */, &on, sizeof on);
  slot.m_socket = socket;
  slot.m_receiver.Clear();
  slot.m_nAcceptedAt = slot.m_nLastRequestAt = Now();
  WatchSlot(free);
}

void TcpServer::OnConnection(int index, LPARAM event) {
  Slot& slot = m_slots[index];
  if (slot.m_socket < 0) return;
  if (event == kFdClose) {
    CloseSlot(index);
    return;
  }
  if (event != kFdRead) return;

  const bool wasFull = slot.m_receiver.Full();
  if (!wasFull) {
    const ssize_t got = ::recv(slot.m_socket, slot.m_receiver.Tail(), slot.m_receiver.Room(), MSG_DONTWAIT);
    if (got > 0) {
      State().m_tcp.LogBytes(m_pLog.get(), slot.m_receiver.Tail(), static_cast<size_t>(got), true);
      slot.m_receiver.Received(static_cast<size_t>(got));
    } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      // The peer has gone: what the socket layer reports next is its close.
      CloseSlot(index);
      return;
    }
  }

  const std::span<const uint8_t> request = slot.m_receiver.Request();
  if (request.empty()) {
    // A length that can never fit stays here until the idle check ends it.
    if (slot.m_receiver.Full()) WatchSlot(index);
    return;
  }

  State().m_tcp.m_nGoodMessages.fetch_add(1, std::memory_order_relaxed);
  slot.m_nLastRequestAt = Now();
  if (wasFull) WatchSlot(index);

  // The request still lies in the buffer; it is answered before anything
  // more is received into it.
  Reply reply;
  HandleTcpRequest(request, reply);
  slot.m_receiver.Clear();
  if (reply.size > 0) {
    ::send(slot.m_socket, reply.bytes.data(), reply.size, MSG_NOSIGNAL | MSG_DONTWAIT);
    State().m_tcp.LogBytes(m_pLog.get(), reply.bytes.data(), reply.size, false);
  }
  if (reply.notify) PostNotifications();
}

void TcpServer::OnIdleCheck() {
  const uint32_t now = Now();
  for (int slot = 0; slot < kTcpSlots; ++slot) {
    // Unsigned difference: right across the wrap of the millisecond counter.
    if (m_slots[slot].m_socket >= 0 && now - m_slots[slot].m_nLastRequestAt > kIdleLimitMs) {
      CloseSlot(slot);
    }
  }
}

void TcpServer::CloseSlot(int index) {
  Slot& slot = m_slots[index];
  if (slot.m_socket < 0) return;
  m_pWindow->UnwatchFd(slot.m_socket);
  ::close(slot.m_socket);
  slot.m_socket = -1;
  slot.m_receiver.Clear();
  // A peer left waiting in the backlog may come in now.
  if (m_bAcceptPaused && m_listenSocket >= 0) WatchListener();
}

HWND TcpServerWindow() {
  TcpServer* server = g_server.load();
  return server != nullptr ? server->Window() : nullptr;
}

uint16_t TcpListeningPort() {
  TcpServer* server = g_server.load();
  return server != nullptr ? server->ListeningPort() : 0;
}

}  // namespace slavelink

extern "C" intptr_t MBAPWndProc(MessageTarget* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  slavelink::TcpServer* server = slavelink::g_server.load();
  if (server == nullptr || window == nullptr || server->Window() != window) return 0;
  return server->WndProc(message, wParam, lParam);
}
