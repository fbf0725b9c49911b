// Helpers shared by the master library tests: a window that records posted
// messages, child processes for peer slaves, pseudo-terminals and a scripted
// Modbus/TCP peer.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "masterlink/masterlink.h"
#include "tests/support/FreePort.h"

namespace mltest {

struct PostedMessage {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

class CRecordingWindow : public MessageTarget {
 public:
  bool Post(UINT message, WPARAM wParam, LPARAM lParam) override;
  bool StartTimer(UINT_PTR, UINT, TIMERPROC) override { return false; }
  bool StopTimer(UINT_PTR) override { return false; }

  // Waits until `count` messages numbered `message` have arrived.
  bool WaitFor(UINT message, size_t count, int timeoutMs);
  size_t Count(UINT message) const;
  std::vector<PostedMessage> Messages() const;

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_arrived;
  std::vector<PostedMessage> m_messages;
};

struct Outcome {
  int32_t accepted = -1;  // result of PollMODBUS / WriteMODBUS
  int32_t status = -1;    // result of MODBUSResponse
  ModbusRequestHeader header{};
  std::vector<uint16_t> words;
  int elapsedMs = 0;
};

// Sends one request, waits for its message 1027 and takes the outcome.
Outcome Transact(CRecordingWindow& window, int32_t handle, uint8_t slave, uint8_t function,
                 uint16_t address, uint16_t count, const std::vector<uint16_t>& data = {},
                 int waitMs = 8000);

constexpr UINT kRspMessage = WM_USER + 3;

// For a serial line whose far end is still starting: sends one-register reads
// of holding register 1 until two in a row are answered, leaving the line
// quiet for a moment after each. Requests sent before the far end was ready
// may be answered late, all at once; the idle master drops such stragglers,
// so they cannot be taken for the answer to a later, different request.
bool WaitUntilLineCarries(CRecordingWindow& window, int32_t handle, uint8_t slave, int attempts);

// A child process, killed and reaped when this goes away, and killed when the
// thread that started it ends: start it from the test's own thread.
class CChildProcess {
 public:
  CChildProcess() = default;
  ~CChildProcess() { Stop(); }
  bool Start(const std::vector<std::string>& argv);
  void Stop();
  pid_t Pid() const { return m_pid; }

 private:
  pid_t m_pid = -1;
};

using testsupport::PickFreePort;
uint32_t Loopback();  // 127.0.0.1 in network byte order
// Connects with ConnectTCP2, retrying until a starting server listens.
int32_t ConnectTcpWhenReady(uint16_t port, HWND window, int timeoutMs, uint32_t replyTimeoutMs = 2000);

// The pymodbus interpreter; skips the calling test when pymodbus is missing.
bool HavePymodbus();
std::string TestSourceDir();

// A pseudo-terminal pair: the master side stays here, the slave side's path
// is handed to the library as a COM port.
struct PtyPair {
  int master = -1;
  int slaveKeepAlive = -1;
  std::string slavePath;
  bool Open();
  ~PtyPair();
};

// Reads from fd until `pred` says the bytes form a complete frame or the
// time runs out.
std::vector<uint8_t> ReadFrame(int fd, const std::function<bool(const std::vector<uint8_t>&)>& complete,
                               int timeoutMs);

// A Modbus/TCP peer on 127.0.0.1 whose answers a test scripts: for each
// request frame received, `respond` returns the bytes to send back, nothing
// to stay silent, or sets `close` to drop the connection.
class CScriptedTcpServer {
 public:
  using Respond = std::function<std::optional<std::vector<uint8_t>>(const std::vector<uint8_t>& request,
                                                                    bool& close)>;
  explicit CScriptedTcpServer(Respond respond);
  ~CScriptedTcpServer();
  uint16_t Port() const { return m_port; }
  int Accepted() const { return m_accepted.load(); }
  int Requests() const { return m_requests.load(); }

 private:
  void Run();
  Respond m_respond;
  int m_listenFd = -1;
  int m_stopPipe[2] = {-1, -1};
  uint16_t m_port = 0;
  std::atomic<int> m_accepted{0};
  std::atomic<int> m_requests{0};
  std::thread m_thread;
};

}  // namespace mltest
