#include "masterlink/MasterConnection.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "masterlink/MasterPdu.h"

namespace masterlink {

CMasterConnection::CMasterConnection(int32_t handle, std::unique_ptr<CMasterTransport> transport,
                                     int timeoutMs)
    : m_hConnection(handle),
      m_nTimeoutMs(timeoutMs > 0 ? timeoutMs : 2000),
      m_transport(std::move(transport)),
      m_wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_requestFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_timerFd(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)),
      m_worker([this] { Run(); }) {}

CMasterConnection::~CMasterConnection() { Close(); }

void CMasterConnection::Hook(HWND window, UINT message, LPARAM lParam) {
  std::lock_guard lock(m_mutex);
  m_hNotifyWnd = window;
  m_nRspMessage = message;
  m_lNotifyParam = lParam;
}

void CMasterConnection::Notify(UINT message, LPARAM lParam) {
  HWND window;
  {
    std::lock_guard lock(m_mutex);
    window = m_hNotifyWnd;
  }
  if (window != nullptr && message != 0) window->Post(message, static_cast<WPARAM>(m_hConnection), lParam);
}

int32_t CMasterConnection::Submit(const ModbusRequestHeader& header, const uint16_t* data) {
  if (const int32_t invalid = ValidateRequest(header); invalid != 0) return invalid;
  if ((header.nFunction == 15 || header.nFunction == 16) && data == nullptr) return MLERR_BAD_REQUEST;
  {
    std::lock_guard lock(m_mutex);
    if (m_bClosing) return MLERR_NOT_CONNECTED;
    if (m_request) return MLERR_BUSY;
    std::vector<uint8_t> pdu = BuildRequestPdu(header, data);
    // The worker is idle here, so nothing else touches the transport. Held
    // under the lock, TrySendNow must not post messages of its own.
    const bool sent = m_transport->TrySendNow(header, pdu);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_nTimeoutMs);
    m_request = Request{header, std::move(pdu), sent, deadline};
    if (sent) {
      // The reply wakes the worker; the timer does if there is none.
      itimerspec due{};
      due.it_value.tv_sec = m_nTimeoutMs / 1000;
      due.it_value.tv_nsec = static_cast<long>(m_nTimeoutMs % 1000) * 1000000L;
      ::timerfd_settime(m_timerFd.Get(), 0, &due, nullptr);
      return 0;
    }
  }
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(m_requestFd.Get(), &one, sizeof one);
  return 0;
}

int32_t CMasterConnection::TakeOutcome(ModbusRequestHeader* header, uint16_t* words, int32_t nWords) {
  Outcome outcome;
  {
    std::lock_guard lock(m_mutex);
    if (m_outcomes.empty()) {
      if (header != nullptr) std::memset(header, 0, sizeof *header);
      return MLERR_NO_RESPONSE;
    }
    outcome = std::move(m_outcomes.front());
    m_outcomes.pop_front();
  }
  if (header != nullptr) *header = outcome.header;
  if (words != nullptr && nWords > 0) {
    const size_t n = std::min(outcome.words.size(), static_cast<size_t>(nWords));
    std::copy_n(outcome.words.begin(), n, words);
  }
  return outcome.status;
}

void CMasterConnection::Close() {
  {
    std::lock_guard lock(m_mutex);
    if (!m_bClosing) {
      m_bClosing = true;
      const uint64_t one = 1;
      // Cuts short a transaction that is waiting on the wire, or the wait for one.
      [[maybe_unused]] const ssize_t n = ::write(m_wakeFd.Get(), &one, sizeof one);
    }
  }
  if (m_worker.joinable() && m_worker.get_id() != std::this_thread::get_id()) m_worker.join();
  m_transport.reset();
}

bool CMasterConnection::IsClosed() const {
  std::lock_guard lock(m_mutex);
  return m_bClosing;
}

bool CMasterConnection::HasOutcomes() const {
  std::lock_guard lock(m_mutex);
  return !m_outcomes.empty();
}

void CMasterConnection::Run() {
  for (;;) {
    Request request;
    bool closing;
    {
      std::unique_lock lock(m_mutex);
      if (!m_request) {
        if (m_bClosing) return;
        lock.unlock();
        WaitForWork();
        continue;
      }
      request = *m_request;
      closing = m_bClosing;
    }
    m_bIdleLineHungUp = false;
    Outcome outcome{request.header, MLERR_CONNECTION_LOST, {}};
    if (!closing) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(request.deadline -
                                                                              std::chrono::steady_clock::now());
      outcome.status =
          request.bSent
              ? m_transport->Finish(request.header, outcome.words, static_cast<int>(std::max<long>(0, left.count())),
                                    m_wakeFd.Get())
              : m_transport->Transact(request.header, request.pdu, outcome.words, m_nTimeoutMs, m_wakeFd.Get());
    }
    if (outcome.status != 0) outcome.words.clear();
    Complete(std::move(outcome));
  }
}

void CMasterConnection::WaitForWork() {
  // The worker alone changes the descriptor (reconnecting, dropping), so it
  // may read it without the lock.
  const int ioFd = m_bIdleLineHungUp ? -1 : m_transport->IoFd();
  pollfd fds[4] = {{m_wakeFd.Get(), POLLIN, 0},
                   {m_requestFd.Get(), POLLIN, 0},
                   {m_timerFd.Get(), POLLIN, 0},
                   {ioFd, POLLIN, 0}};
  if (::poll(fds, ioFd >= 0 ? 4 : 3, -1) <= 0) return;
  uint64_t count;
  if (fds[1].revents != 0) [[maybe_unused]] ssize_t n = ::read(m_requestFd.Get(), &count, sizeof count);
  if (fds[2].revents != 0) [[maybe_unused]] ssize_t n = ::read(m_timerFd.Get(), &count, sizeof count);
  if (ioFd < 0 || fds[3].revents == 0) return;
  bool dropped = false;
  {
    std::lock_guard lock(m_mutex);
    // A reply to the request just sent is the request's business; anything
    // else on an idle line is stale, or the line's end.
    if (m_request || m_bClosing) return;
    dropped = m_transport->DrainIdle();
  }
  if (fds[3].revents & (POLLHUP | POLLERR | POLLNVAL)) m_bIdleLineHungUp = true;
  if (dropped) m_transport->AnnounceLinkDown();
}

void CMasterConnection::Complete(Outcome outcome) {
  HWND window;
  UINT message;
  LPARAM lParam;
  {
    std::lock_guard lock(m_mutex);
    // The outcome is in place before the message that announces it is posted,
    // and the connection is free again for the next request.
    m_outcomes.push_back(std::move(outcome));
    m_request.reset();
    window = m_hNotifyWnd;
    message = m_nRspMessage;
    lParam = m_lNotifyParam;
  }
  if (window != nullptr && message != 0) window->Post(message, static_cast<WPARAM>(m_hConnection), lParam);
}

}  // namespace masterlink
