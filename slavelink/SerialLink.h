// One serial slave link: a port COM1..COM9 opened through termios, its
// reader thread, frame end detection (RTU silence or ASCII line feed) and the
// send step with RTS control.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "slavelink/SlaveState.h"

namespace slavelink {

constexpr size_t kSerialBufferSize = 520;

// Milliseconds of silence that end an RTU frame at this baud rate.
uint32_t GapForBaudRate(uint32_t baudRate);

class SerialLink {
 public:
  // Opens COM<port> into record `port` and starts the reader thread. The
  // handle (the port's descriptor) is returned; -1 on failure.
  static int32_t Open(HWND window, int32_t port, int32_t protocol, int32_t timerId,
                      const SlavePortSettings& settings);
  // Closes the link of the handle; false when no open serial link has it.
  static bool Close(int32_t handle);

  ~SerialLink();

  uint32_t Gap() const { return m_nGap; }
  bool IsRtu() const { return m_bRtu; }

 private:
  SerialLink(SlavePort& record, int fd, int wakeFd);

  void ReaderLoop();
  // RTU without a window: true when the silence ended the frame, false when
  // more characters came (or the link is closing).
  bool AwaitRtuSilence();
  // Takes the collected frame out of the buffer and answers it.
  void CompleteFrame();
  void Send(const uint8_t* bytes, size_t length);
  size_t BytesWaiting() const;
  void DiscardInput(size_t count);
  // Ends the reader thread and frees the record; with `stopHostTimer` also
  // stops the RTU timer on the host's window.
  void Stop(bool stopHostTimer);

  static void TimerProc(HWND window, UINT message, UINT_PTR id, uint32_t tick);

  SlavePort& m_record;
  int m_fd;
  int m_wakeFd;  // eventfd that ends the reader's wait on close
  HWND m_hTimerWnd = nullptr;
  int32_t m_nTimerId = 0;
  uint32_t m_nGap = 500;
  bool m_bRtu = true;
  uint8_t m_nPreSendDelay = 0;
  uint8_t m_nPostSendDelay = 0;
  bool m_bModemLines = false;  // a real port, with RTS and an echo to discard
  std::shared_ptr<TrafficLog> m_pLog;

  // The buffer is filled by the reader thread and, with a timer window,
  // emptied on the window's thread.
  std::mutex m_bufferMutex;
  std::array<uint8_t, kSerialBufferSize> m_buffer{};
  size_t m_nCount = 0;

  std::atomic<bool> m_bRunning{false};
  std::thread m_thread;
};

}  // namespace slavelink
