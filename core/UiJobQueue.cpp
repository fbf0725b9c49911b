#include "core/UiJobQueue.h"

CUiJobQueue::CUiJobQueue(std::function<void()> wake)
    : m_wake(std::move(wake)), m_uiThread(std::this_thread::get_id()) {}

CUiJobQueue::~CUiJobQueue() { Close(); }

bool CUiJobQueue::RunAndWait(const std::function<void()>& job) {
  if (IsUiThread()) {
    // Waiting here for our own thread would never end.
    {
      std::lock_guard lock(m_mutex);
      if (m_bClosed) return false;
    }
    job();
    return true;
  }
  auto entry = std::make_shared<Entry>();
  entry->job = &job;
  {
    std::lock_guard lock(m_mutex);
    if (m_bClosed) return false;
    m_waiting.push_back(entry);
  }
  if (m_wake) m_wake();
  std::unique_lock lock(m_mutex);
  // A job that has started is waited for even when the queue closes
  // meanwhile: it still uses what the caller lent it.
  m_finished.wait(lock, [&] { return entry->done || (m_bClosed && !entry->started); });
  return entry->done;
}

int CUiJobQueue::Drain() {
  int ran = 0;
  std::unique_lock lock(m_mutex);
  while (!m_bClosed && !m_waiting.empty()) {
    std::shared_ptr<Entry> entry = m_waiting.front();
    m_waiting.pop_front();
    entry->started = true;
    lock.unlock();
    (*entry->job)();
    lock.lock();
    entry->done = true;
    ++ran;
    m_finished.notify_all();
  }
  return ran;
}

void CUiJobQueue::Close() {
  std::lock_guard lock(m_mutex);
  m_bClosed = true;
  m_waiting.clear();
  m_finished.notify_all();
}
