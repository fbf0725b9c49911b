// Message targets: the registry of live handles, the timer table shared by both
// kinds of target, the threaded poll() loop and the pumped queue.

#include "platform/msgwindow.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A queue that nobody drains must not eat the machine's memory; like a window's
// message queue it refuses posts beyond a fixed depth.
constexpr size_t kMaxQueuedMessages = 100000;

// The shortest timer period; a period of 0 would otherwise spin the loop.
constexpr UINT kMinTimerPeriodMs = 1;

// --- Handle registry ------------------------------------------------------
// The free functions, and the targets' own entry points, work under a lease
// taken here, so a handle whose target is being destroyed (or is gone) fails
// cleanly, and the destructor waits until no lease on it remains.

struct RegistryEntry {
  int leases = 0;
  bool withdrawn = false;
  bool awaited = false;  // a WithdrawTarget waits for the leases to end
};

struct Registry {
  std::mutex mutex;
  std::condition_variable released;
  std::unordered_map<const MessageTarget*, RegistryEntry> targets;
};

// Never destroyed: targets with static storage may outlive any other static.
Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

// Leases this thread holds, so that a target withdrawn from inside a call on
// itself does not wait for its own caller.
thread_local std::vector<const MessageTarget*> t_heldLeases;

class Lease {
 public:
  explicit Lease(HWND window) {
    if (!window) return;
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    auto it = r.targets.find(window);
    if (it == r.targets.end() || it->second.withdrawn) return;
    ++it->second.leases;
    m_target = window;
    t_heldLeases.push_back(window);
  }
  ~Lease() {
    if (!m_target) return;
    auto held = std::find(t_heldLeases.rbegin(), t_heldLeases.rend(), m_target);
    if (held != t_heldLeases.rend()) t_heldLeases.erase(std::next(held).base());
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    auto it = r.targets.find(m_target);
    if (it == r.targets.end() || it->second.leases == 0) return;
    --it->second.leases;
    if (it->second.awaited)
      r.released.notify_all();  // the waiter decides whether enough have ended
    else if (it->second.withdrawn && it->second.leases == 0)
      r.targets.erase(it);  // withdrawn from inside this call: nobody else will
  }
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;

  MessageTarget* get() const { return m_target; }

 private:
  MessageTarget* m_target = nullptr;
};

void RegisterTarget(const MessageTarget* target) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  // A new target at the address of a destroyed one takes its handle over.
  r.targets[target] = RegistryEntry{};
}

void WithdrawTarget(const MessageTarget* target) {
  Registry& r = TheRegistry();
  const int own = static_cast<int>(std::count(t_heldLeases.begin(), t_heldLeases.end(), target));
  std::unique_lock lock(r.mutex);
  auto it = r.targets.find(target);
  if (it == r.targets.end()) return;
  it->second.withdrawn = true;
  if (it->second.leases > own) {
    it->second.awaited = true;
    r.released.wait(lock, [&] { return r.targets.at(target).leases <= own; });
    it = r.targets.find(target);
    it->second.awaited = false;
  }
  // With leases of our own still open, the last of them removes the entry.
  if (it->second.leases == 0) r.targets.erase(it);
}

// --- Timers -----------------------------------------------------------------

struct TimerEntry {
  UINT periodMs = 0;
  TIMERPROC proc = nullptr;
  Clock::time_point due;
  uint64_t serial = 0;  // changes on every (re)start
};

struct DueTimer {
  UINT_PTR id;
  TIMERPROC proc;
  uint64_t serial;
};

// The timers of one target. Not locked itself: its owner's mutex guards it.
class TimerTable {
 public:
  void Start(UINT_PTR id, UINT periodMs, TIMERPROC proc, Clock::time_point now) {
    TimerEntry& t = m_timers[id];
    t.periodMs = std::max(periodMs, kMinTimerPeriodMs);
    t.proc = proc;
    t.due = now + std::chrono::milliseconds(t.periodMs);
    t.serial = ++m_lastSerial;
  }
  bool Stop(UINT_PTR id) { return m_timers.erase(id) > 0; }
  void Clear() { m_timers.clear(); }

  std::optional<Clock::time_point> NextDue() const {
    std::optional<Clock::time_point> next;
    for (const auto& [id, t] : m_timers)
      if (!next || t.due < *next) next = t.due;
    return next;
  }

  // The timers due at `now`, each already rescheduled for its next period so
  // that a procedure that kills or restarts its own timer has the last word.
  std::vector<DueTimer> TakeDue(Clock::time_point now) {
    std::vector<DueTimer> due;
    for (auto& [id, t] : m_timers) {
      if (t.due > now) continue;
      due.push_back({id, t.proc, t.serial});
      const auto period = std::chrono::milliseconds(t.periodMs);
      t.due += period;
      // A late loop skips missed periods rather than firing in a burst.
      if (t.due <= now) t.due = now + period;
    }
    return due;
  }

  // Whether a timer collected by TakeDue is still the one that is set.
  bool StillSet(const DueTimer& timer) const {
    auto it = m_timers.find(timer.id);
    return it != m_timers.end() && it->second.serial == timer.serial;
  }

 private:
  std::map<UINT_PTR, TimerEntry> m_timers;
  uint64_t m_lastSerial = 0;
};

// Milliseconds from now until `due`, rounded up so that a wait of that length
// never ends before the timer is due.
int MsUntil(Clock::time_point due, Clock::time_point now) {
  if (due <= now) return 0;
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(due - now).count();
  const long long ms = (us + 999) / 1000;
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// --- Queue items ------------------------------------------------------------

// Work handed to the loop thread by RunSync; the caller waits on it.
struct SyncCall {
  const std::function<void()>* work = nullptr;
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool ran = false;
  std::exception_ptr error;

  void Finish(bool didRun) {
    std::lock_guard lock(mutex);
    finished = true;
    ran = didRun;
    done.notify_all();
  }
};

struct QueuedItem {
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::shared_ptr<SyncCall> call;  // set for RunSync work instead of a message
};

void FireTimer(HWND self, const MessageHandler& handler, const DueTimer& timer) {
  if (timer.proc)
    timer.proc(self, WM_TIMER, timer.id, GetTickCount());
  else if (handler)
    handler(self, WM_TIMER, timer.id, 0);
}

}  // namespace

// --- MessageTarget and the free functions -----------------------------------

MessageTarget::MessageTarget() { RegisterTarget(this); }
MessageTarget::MessageTarget(const MessageTarget&) { RegisterTarget(this); }
MessageTarget::~MessageTarget() { WithdrawTarget(this); }
void MessageTarget::Withdraw() { WithdrawTarget(this); }

bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Lease lease(window);
  return lease.get() && lease.get()->Post(message, wParam, lParam);
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT periodMs, TIMERPROC proc) {
  Lease lease(window);
  if (!lease.get() || !lease.get()->StartTimer(id, periodMs, proc)) return 0;
  return id ? id : 1;
}

bool KillTimer(HWND window, UINT_PTR id) {
  Lease lease(window);
  return lease.get() && lease.get()->StopTimer(id);
}

uint32_t GetTickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

// --- ThreadMessageTarget ----------------------------------------------------

namespace {

struct FdWatch {
  short events;
  std::function<void(int, short)> ready;
};

}  // namespace

// The loop's state lives in a shared core that the loop thread also holds, so
// that a target destroyed from inside its own handler leaves the loop a valid
// state to finish the current dispatch with.
struct ThreadLoopCore {
  HWND self = nullptr;
  MessageHandler handler;
  int wakeFd = -1;

  mutable std::mutex mutex;
  bool stopping = false;
  bool wakePending = false;
  std::thread::id loopId;
  std::deque<QueuedItem> queue;
  TimerTable timers;
  std::map<int, std::shared_ptr<FdWatch>> watches;

  ~ThreadLoopCore() {
    if (wakeFd >= 0) close(wakeFd);
  }

  void Wake() {
    const uint64_t one = 1;
    // A full counter (EAGAIN) still leaves the fd readable, which is all we need.
    while (write(wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }

  // Queues an item; false once stopping or when the queue is full.
  bool Enqueue(QueuedItem item) {
    bool wake;
    {
      std::lock_guard lock(mutex);
      if (stopping || queue.size() >= kMaxQueuedMessages) return false;
      queue.push_back(std::move(item));
      wake = !wakePending;
      wakePending = true;
    }
    if (wake) Wake();
    return true;
  }

  bool IsStopping() const {
    std::lock_guard lock(mutex);
    return stopping;
  }

  void Deliver(QueuedItem& item) {
    if (item.call) {
      try {
        (*item.call->work)();
      } catch (...) {
        item.call->error = std::current_exception();
      }
      item.call->Finish(true);
    } else if (handler) {
      handler(self, item.message, item.wParam, item.lParam);
    }
  }

  void DispatchMessages() {
    size_t count;
    {
      std::lock_guard lock(mutex);
      count = queue.size();
    }
    // Only what was queued before this round, so that timers and sockets get
    // their turn even while another thread keeps posting.
    for (; count > 0; --count) {
      QueuedItem item;
      {
        std::lock_guard lock(mutex);
        if (stopping || queue.empty()) return;
        item = std::move(queue.front());
        queue.pop_front();
      }
      Deliver(item);
    }
  }

  void DispatchTimers() {
    std::vector<DueTimer> due;
    {
      std::lock_guard lock(mutex);
      if (stopping) return;
      due = timers.TakeDue(Clock::now());
    }
    for (const DueTimer& timer : due) {
      {
        std::lock_guard lock(mutex);
        if (stopping || !timers.StillSet(timer)) continue;
      }
      FireTimer(self, handler, timer);
    }
  }

  void Run() {
    {
      std::lock_guard lock(mutex);
      loopId = std::this_thread::get_id();
    }
    std::vector<pollfd> fds;
    std::vector<std::shared_ptr<FdWatch>> polled;
    while (!IsStopping()) {
      DispatchMessages();
      DispatchTimers();

      int timeout;
      fds.assign(1, pollfd{wakeFd, POLLIN, 0});
      polled.assign(1, nullptr);
      {
        std::lock_guard lock(mutex);
        if (stopping) break;
        wakePending = false;
        if (!queue.empty()) {
          timeout = 0;
        } else {
          auto next = timers.NextDue();
          timeout = next ? MsUntil(*next, Clock::now()) : -1;
        }
        for (const auto& [fd, watch] : watches) {
          fds.push_back(pollfd{fd, watch->events, 0});
          polled.push_back(watch);
        }
      }

      const int n = poll(fds.data(), fds.size(), timeout);
      if (n < 0 && errno != EINTR) {
        // Out of kernel memory or the like: retry without spinning.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      if (n <= 0) continue;

      if (fds[0].revents) {
        uint64_t count;
        while (read(wakeFd, &count, sizeof count) < 0 && errno == EINTR) {
        }
      }
      for (size_t i = 1; i < fds.size(); ++i) {
        if (!fds[i].revents) continue;
        {
          std::lock_guard lock(mutex);
          if (stopping) break;
          // A callback earlier in this round may have unwatched or replaced it.
          auto it = watches.find(fds[i].fd);
          if (it == watches.end() || it->second != polled[i]) continue;
          // A closed descriptor would be reported on every round for ever.
          if (fds[i].revents & POLLNVAL) watches.erase(it);
        }
        if (polled[i]->ready) polled[i]->ready(fds[i].fd, fds[i].revents);
      }
    }
    Drain();
  }

  // After the loop: nothing more runs, and RunSync callers stop waiting.
  void Drain() {
    std::deque<QueuedItem> rest;
    {
      std::lock_guard lock(mutex);
      stopping = true;
      rest.swap(queue);
      timers.Clear();
      watches.clear();
    }
    for (QueuedItem& item : rest)
      if (item.call) item.call->Finish(false);
  }
};

struct ThreadMessageTarget::Impl {
  std::shared_ptr<ThreadLoopCore> core;
  std::mutex threadMutex;  // guards join and detach of `thread`
  std::thread thread;
};

ThreadMessageTarget::ThreadMessageTarget(MessageHandler handler) : m_impl(std::make_unique<Impl>()) {
  auto core = std::make_shared<ThreadLoopCore>();
  core->self = this;
  core->handler = std::move(handler);
  core->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  m_impl->core = core;
  if (core->wakeFd < 0) {
    // No loop can run: the target behaves as stopped, every post fails.
    core->stopping = true;
    return;
  }
  try {
    m_impl->thread = std::thread([core] { core->Run(); });
  } catch (const std::system_error&) {
    core->stopping = true;
  }
}

ThreadMessageTarget::~ThreadMessageTarget() {
  Withdraw();
  ThreadLoopCore& core = *m_impl->core;
  {
    std::lock_guard lock(core.mutex);
    core.stopping = true;
  }
  if (core.wakeFd >= 0) core.Wake();
  std::lock_guard lock(m_impl->threadMutex);
  if (!m_impl->thread.joinable()) return;
  if (m_impl->thread.get_id() == std::this_thread::get_id())
    m_impl->thread.detach();  // the loop holds the core and ends after this dispatch
  else
    m_impl->thread.join();
}

bool ThreadMessageTarget::Post(UINT message, WPARAM wParam, LPARAM lParam) {
  // Held for the whole call, so that a destructor on another thread waits
  // for it instead of freeing the state it is using.
  Lease self(this);
  if (!self.get()) return false;
  return m_impl->core->Enqueue(QueuedItem{message, wParam, lParam, nullptr});
}

bool ThreadMessageTarget::StartTimer(UINT_PTR id, UINT periodMs, TIMERPROC proc) {
  Lease self(this);  // see ThreadMessageTarget::Post
  if (!self.get()) return false;
  ThreadLoopCore& core = *m_impl->core;
  {
    std::lock_guard lock(core.mutex);
    if (core.stopping) return false;
    core.timers.Start(id, periodMs, proc, Clock::now());
  }
  // The loop may be asleep with a longer time-out than this timer needs.
  core.Wake();
  return true;
}

bool ThreadMessageTarget::StopTimer(UINT_PTR id) {
  Lease self(this);  // see ThreadMessageTarget::Post
  if (!self.get()) return false;
  ThreadLoopCore& core = *m_impl->core;
  std::lock_guard lock(core.mutex);
  return core.timers.Stop(id);
}

void ThreadMessageTarget::WatchFd(int fd, short events, std::function<void(int fd, short revents)> ready) {
  if (fd < 0) return;
  ThreadLoopCore& core = *m_impl->core;
  {
    std::lock_guard lock(core.mutex);
    if (core.stopping) return;
    core.watches[fd] = std::make_shared<FdWatch>(FdWatch{events, std::move(ready)});
  }
  core.Wake();
}

void ThreadMessageTarget::UnwatchFd(int fd) {
  ThreadLoopCore& core = *m_impl->core;
  const auto erase = [&core, fd] {
    std::lock_guard lock(core.mutex);
    core.watches.erase(fd);
  };
  // From another thread the removal runs on the loop, between two callbacks:
  // once this returns no callback for `fd` is running or still to come, and
  // the caller may close it. The loop rebuilds its poll set each round.
  if (IsLoopThread() || !RunSync(erase)) erase();
}

bool ThreadMessageTarget::RunSync(const std::function<void()>& work) {
  ThreadLoopCore& core = *m_impl->core;
  if (IsLoopThread()) {
    if (core.IsStopping()) return false;
    work();
    return true;
  }
  auto call = std::make_shared<SyncCall>();
  call->work = &work;
  if (!core.Enqueue(QueuedItem{0, 0, 0, call})) return false;
  std::unique_lock lock(call->mutex);
  call->done.wait(lock, [&] { return call->finished; });
  if (call->error) std::rethrow_exception(call->error);
  return call->ran;
}

void ThreadMessageTarget::Stop() {
  ThreadLoopCore& core = *m_impl->core;
  {
    std::lock_guard lock(core.mutex);
    core.stopping = true;
  }
  if (core.wakeFd >= 0) core.Wake();
  if (IsLoopThread()) return;  // the loop ends when this dispatch returns
  std::lock_guard lock(m_impl->threadMutex);
  if (m_impl->thread.joinable()) m_impl->thread.join();
}

bool ThreadMessageTarget::IsLoopThread() const {
  ThreadLoopCore& core = *m_impl->core;
  std::lock_guard lock(core.mutex);
  return core.loopId == std::this_thread::get_id();
}

// --- QueuedMessageTarget ----------------------------------------------------

// Shared with every Pump in progress, so that a handler that destroys the
// target (a form closing itself) does not pull the state from under Pump.
struct QueuedCore {
  HWND self = nullptr;
  MessageHandler handler;
  std::function<void()> wake;

  mutable std::mutex mutex;
  bool stopped = false;
  std::deque<QueuedItem> queue;
  TimerTable timers;

  void Wake() const {
    if (wake) wake();
  }
};

struct QueuedMessageTarget::Impl {
  std::shared_ptr<QueuedCore> core;
};

QueuedMessageTarget::QueuedMessageTarget(MessageHandler handler, std::function<void()> wake)
    : m_impl(std::make_unique<Impl>()) {
  m_impl->core = std::make_shared<QueuedCore>();
  m_impl->core->self = this;
  m_impl->core->handler = std::move(handler);
  m_impl->core->wake = std::move(wake);
}

QueuedMessageTarget::~QueuedMessageTarget() {
  Withdraw();
  Stop();
}

bool QueuedMessageTarget::Post(UINT message, WPARAM wParam, LPARAM lParam) {
  Lease self(this);  // see ThreadMessageTarget::Post
  if (!self.get()) return false;
  QueuedCore& core = *m_impl->core;
  {
    std::lock_guard lock(core.mutex);
    if (core.stopped || core.queue.size() >= kMaxQueuedMessages) return false;
    core.queue.push_back(QueuedItem{message, wParam, lParam, nullptr});
  }
  core.Wake();
  return true;
}

bool QueuedMessageTarget::StartTimer(UINT_PTR id, UINT periodMs, TIMERPROC proc) {
  Lease self(this);  // see ThreadMessageTarget::Post
  if (!self.get()) return false;
  QueuedCore& core = *m_impl->core;
  {
    std::lock_guard lock(core.mutex);
    if (core.stopped) return false;
    core.timers.Start(id, periodMs, proc, Clock::now());
  }
  core.Wake();
  return true;
}

bool QueuedMessageTarget::StopTimer(UINT_PTR id) {
  Lease self(this);  // see ThreadMessageTarget::Post
  if (!self.get()) return false;
  QueuedCore& core = *m_impl->core;
  {
    std::lock_guard lock(core.mutex);
    if (!core.timers.Stop(id)) return false;
  }
  core.Wake();
  return true;
}

int QueuedMessageTarget::Pump() {
  std::shared_ptr<QueuedCore> core = m_impl->core;
  int dispatched = 0;
  size_t count;
  {
    std::lock_guard lock(core->mutex);
    if (core->stopped) return 0;
    count = core->queue.size();
  }
  for (; count > 0; --count) {
    QueuedItem item;
    {
      std::lock_guard lock(core->mutex);
      if (core->stopped || core->queue.empty()) return dispatched;
      item = std::move(core->queue.front());
      core->queue.pop_front();
    }
    if (core->handler) core->handler(core->self, item.message, item.wParam, item.lParam);
    ++dispatched;
  }

  std::vector<DueTimer> due;
  {
    std::lock_guard lock(core->mutex);
    if (core->stopped) return dispatched;
    due = core->timers.TakeDue(Clock::now());
  }
  for (const DueTimer& timer : due) {
    {
      std::lock_guard lock(core->mutex);
      if (core->stopped) return dispatched;
      if (!core->timers.StillSet(timer)) continue;
    }
    FireTimer(core->self, core->handler, timer);
    ++dispatched;
  }
  return dispatched;
}

int QueuedMessageTarget::NextTimerDueMs() const {
  const QueuedCore& core = *m_impl->core;
  std::lock_guard lock(core.mutex);
  auto next = core.timers.NextDue();
  return next ? MsUntil(*next, Clock::now()) : -1;
}

void QueuedMessageTarget::Stop() {
  QueuedCore& core = *m_impl->core;
  std::lock_guard lock(core.mutex);
  core.stopped = true;
  core.queue.clear();
  core.timers.Clear();
}
