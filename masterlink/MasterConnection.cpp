#include "masterlink/MasterConnection.h"

#include <sys/eventfd.h>
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
    m_request = Request{header, std::move(pdu), sent};
  }
  // Outside the lock: the worker need not wake only to wait for it.
  m_wakeWorker.notify_one();
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
      // Cuts short a transaction that is waiting on the wire.
      [[maybe_unused]] const ssize_t n = ::write(m_wakeFd.Get(), &one, sizeof one);
      m_wakeWorker.notify_one();
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
      m_wakeWorker.wait(lock, [this] { return m_bClosing || m_request.has_value(); });
      if (!m_request) return;
      request = *m_request;
      closing = m_bClosing;
    }
    Outcome outcome{request.header, MLERR_CONNECTION_LOST, {}};
    if (!closing) {
      outcome.status =
          request.bSent
              ? m_transport->Finish(request.header, outcome.words, m_nTimeoutMs, m_wakeFd.Get())
              : m_transport->Transact(request.header, request.pdu, outcome.words, m_nTimeoutMs, m_wakeFd.Get());
    }
    if (outcome.status != 0) outcome.words.clear();
    Complete(std::move(outcome));
  }
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
