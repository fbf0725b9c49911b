// One master connection: a transport, the worker thread that drives it, the
// request being carried out and the outcomes not yet taken by MODBUSResponse.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "masterlink/MasterTransport.h"
#include "masterlink/masterlink.h"

namespace masterlink {

class CMasterConnection {
 public:
  CMasterConnection(int32_t handle, std::unique_ptr<CMasterTransport> transport, int timeoutMs);
  // Closes the connection if that has not happened yet.
  ~CMasterConnection();
  CMasterConnection(const CMasterConnection&) = delete;
  CMasterConnection& operator=(const CMasterConnection&) = delete;

  void Hook(HWND window, UINT message, LPARAM lParam);
  // Posts `message` (if not 0) to the hooked window: the link messages of TCP.
  void Notify(UINT message, LPARAM lParam);

  // Accepts a request for the worker: 0, or the reason it is refused.
  int32_t Submit(const ModbusRequestHeader& header, const uint16_t* data);
  int32_t TakeOutcome(ModbusRequestHeader* header, uint16_t* words, int32_t nWords);

  // Ends the worker; a request in flight or waiting completes with
  // MLERR_CONNECTION_LOST. Blocks until the worker has finished.
  void Close();
  bool IsClosed() const;
  bool HasOutcomes() const;

 private:
  struct Request {
    ModbusRequestHeader header;
    std::vector<uint8_t> pdu;
    bool bSent;  // already on the line: the worker only finishes it
    std::chrono::steady_clock::time_point deadline;
  };
  struct Outcome {
    ModbusRequestHeader header;
    int32_t status;
    std::vector<uint16_t> words;
  };

  void Run();
  // Sleeps until a request, a reply, the time-out or the close needs the
  // worker; handles stray input between requests.
  void WaitForWork();
  void Complete(Outcome outcome);

  const int32_t m_hConnection;
  const int m_nTimeoutMs;
  std::unique_ptr<CMasterTransport> m_transport;
  // The worker sleeps in poll() on the line and on these: readable once the
  // connection is closing; a request the caller could not send itself; the
  // time-out of a request the caller did send. So a request that went out
  // at once costs the worker a single wake-up, when its reply arrives.
  UniqueFd m_wakeFd;
  UniqueFd m_requestFd;
  UniqueFd m_timerFd;
  // Worker only: the idle line reported a hang-up (a serial device gone, a
  // terminal without its other end). It is left out of the idle wait until
  // the next request, or the wait would spin.
  bool m_bIdleLineHungUp = false;

  mutable std::mutex m_mutex;
  std::optional<Request> m_request;  // accepted, not yet completed
  std::deque<Outcome> m_outcomes;
  bool m_bClosing = false;
  HWND m_hNotifyWnd = nullptr;
  UINT m_nRspMessage = 0;
  LPARAM m_lNotifyParam = 0;

  std::thread m_worker;  // last: starts after everything above exists
};

}  // namespace masterlink
