// The Modbus/TCP slave server: one thread owning the hidden "MBAPMsgHandler"
// window, a listening socket and 16 connection slots. Socket readiness is
// turned into the window's accept (1026) and connection (1124 + slot)
// messages, all handled by MBAPWndProc on that one thread, so the slots need
// no lock.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>

#include <netinet/in.h>

#include "slavelink/SlaveState.h"

namespace slavelink {

constexpr int kTcpSlots = 16;
constexpr size_t kTcpReceiveBuffer = 2028;
constexpr size_t kTcpReceiveLimit = 2025;
constexpr uint32_t kIdleLimitMs = 300000;
constexpr UINT kIdleTimerId = 1;
constexpr UINT kIdleCheckPeriodMs = 5000;

// The window's messages.
constexpr UINT kWmCreate = 0x0001;
constexpr UINT kWmDestroy = 0x0002;
constexpr UINT kMsgCloseRequest = WM_USER + 1;  // 1025
constexpr UINT kMsgAccept = WM_USER + 2;        // 1026
constexpr UINT kMsgConnection = 1124;           // + slot

// Socket events in the long parameter, numbered as the asynchronous socket
// API numbers them.
constexpr LPARAM kFdRead = 0x01;
constexpr LPARAM kFdAccept = 0x08;
constexpr LPARAM kFdClose = 0x20;

// Assembles one Modbus/TCP request from the byte stream of a connection.
// At most 2025 bytes are ever held; a request announcing more can never
// complete and stays until its connection goes.
class MbapReceiver {
 public:
  // Where the next receive may write, and how much.
  uint8_t* Tail() { return m_buffer.data() + m_nCount; }
  size_t Room() const { return kTcpReceiveLimit - m_nCount; }
  void Received(size_t length) { m_nCount += std::min(length, Room()); }
  bool Full() const { return m_nCount >= kTcpReceiveLimit; }
  size_t Count() const { return m_nCount; }

  // The complete request at the front (header and data unit), or empty
  // while more is needed.
  std::span<const uint8_t> Request() const;
  // Forgets everything held: bytes after a request that came with it are
  // dropped, as masters wait for each answer before they ask again.
  void Clear() { m_nCount = 0; }

 private:
  std::array<uint8_t, kTcpReceiveBuffer> m_buffer{};
  size_t m_nCount = 0;
};

class TcpServer {
 public:
  // Starts the server thread and asks it to listen on `port`.
  TcpServer(HWND hostWindow, UINT failureMessage, uint16_t port, std::shared_ptr<TrafficLog> log);
  // Ends the server thread if it still runs and closes every socket.
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  // Hands the close to the server thread.
  void RequestClose();
  // Waits until the server thread has closed its sockets and will touch
  // nothing of the host's again; false on time-out. Returns at once on the
  // server thread itself.
  bool WaitClosed(std::chrono::milliseconds timeout);

  HWND Window() const { return m_pWindow.get(); }
  // The port the server listens on, 0 while it does not (yet).
  uint16_t ListeningPort() const { return m_nListeningPort.load(); }

  LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  struct Slot {
    int m_socket = -1;
    sockaddr_in m_peer{};
    uint32_t m_nAcceptedAt = 0;
    uint32_t m_nLastRequestAt = 0;
    MbapReceiver m_receiver;
  };

  void OnCreate();
  void OnDestroy();
  void OnAccept(LPARAM event);
  void OnConnection(int slot, LPARAM event);
  void OnIdleCheck();
  void CloseSlot(int slot);
  void WatchListener();
  void WatchSlot(int slot);
  void MarkClosed();

  HWND m_hHostWnd;
  UINT m_nFailureMessage;
  uint16_t m_nPort;
  std::shared_ptr<TrafficLog> m_pLog;  // ours until the thread is done with it
  int m_listenSocket = -1;
  bool m_bAcceptPaused = false;
  std::atomic<uint16_t> m_nListeningPort{0};
  std::array<Slot, kTcpSlots> m_slots;
  std::mutex m_closedMutex;
  std::condition_variable m_closedChanged;
  bool m_bClosed = false;
  std::unique_ptr<ThreadMessageTarget> m_pWindow;
};

// The running server's window, for tests that drive its timer by hand.
HWND TcpServerWindow();
// The port the running server listens on, 0 when none.
uint16_t TcpListeningPort();

}  // namespace slavelink
