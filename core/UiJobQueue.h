// Work that other threads hand to the user-interface thread and wait for:
// an OPC client's write must run the write callback on that thread and learn
// its result. The queue's owner drains it on the user-interface thread when
// `wake` says there is work; closing it releases every waiting thread, whose
// job then never runs.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class CUiJobQueue {
 public:
  // The constructing thread is the user-interface thread. `wake` may be
  // called from any thread and must not wait for the user-interface thread.
  explicit CUiJobQueue(std::function<void()> wake);
  ~CUiJobQueue();
  CUiJobQueue(const CUiJobQueue&) = delete;
  CUiJobQueue& operator=(const CUiJobQueue&) = delete;

  // Runs `job` on the user-interface thread and returns once it has run:
  // true. On the user-interface thread itself the job runs at once. False,
  // with the job not run, when the queue is or becomes closed first.
  bool RunAndWait(const std::function<void()>& job);
  // Runs the jobs waiting now; on the user-interface thread. Returns how many.
  int Drain();
  // From now on no job runs; waiting threads return false.
  void Close();
  bool IsUiThread() const { return std::this_thread::get_id() == m_uiThread; }

 private:
  struct Entry {
    const std::function<void()>* job;
    bool started = false;
    bool done = false;
  };
  std::function<void()> m_wake;
  std::thread::id m_uiThread;
  std::mutex m_mutex;
  std::condition_variable m_finished;
  std::deque<std::shared_ptr<Entry>> m_waiting;
  bool m_bClosed = false;
};
