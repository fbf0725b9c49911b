// Message targets: ordering, threads, timers, fd watches, and targets that
// stop or disappear while other threads still post to them.

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/msgwindow.h"

using namespace std::chrono_literals;

namespace {

// Polls `done` until it holds or `limit` passes; the tests' only clock for
// "eventually" so that a loaded machine slows them down instead of failing.
template <typename Pred>
bool WaitFor(Pred done, std::chrono::milliseconds limit = 5000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

struct Recorded {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  std::thread::id thread;
};

// Collects what a handler sees, from whichever thread it runs on.
class Recorder {
 public:
  MessageHandler Handler() {
    return [this](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
      std::lock_guard lock(m_mutex);
      m_seen.push_back({m, w, l, std::this_thread::get_id()});
      return 0;
    };
  }
  std::vector<Recorded> Seen() const {
    std::lock_guard lock(m_mutex);
    return m_seen;
  }
  size_t Count(UINT message) const {
    std::lock_guard lock(m_mutex);
    size_t n = 0;
    for (const auto& r : m_seen) n += r.message == message;
    return n;
  }

 private:
  mutable std::mutex m_mutex;
  std::vector<Recorded> m_seen;
};

// Timer procedures are plain function pointers, so their record is global.
std::mutex g_procMutex;
std::vector<std::pair<UINT_PTR, uint32_t>> g_procFires;  // (id, tick)
std::vector<std::thread::id> g_procThreads;
ThreadMessageTarget* g_procTarget = nullptr;

void RecordingProc(HWND window, UINT message, UINT_PTR id, uint32_t tick) {
  EXPECT_EQ(message, WM_TIMER);
  EXPECT_EQ(window, g_procTarget);
  std::lock_guard lock(g_procMutex);
  g_procFires.push_back({id, tick});
  g_procThreads.push_back(std::this_thread::get_id());
}

size_t ProcFires() {
  std::lock_guard lock(g_procMutex);
  return g_procFires.size();
}

void ResetProcRecord(ThreadMessageTarget* target) {
  std::lock_guard lock(g_procMutex);
  g_procFires.clear();
  g_procThreads.clear();
  g_procTarget = target;
}

// The slave RTU link's pattern: a one-shot timer that kills itself.
std::atomic<int> g_oneShotFires{0};
void OneShotProc(HWND window, UINT, UINT_PTR id, uint32_t) {
  ++g_oneShotFires;
  EXPECT_TRUE(KillTimer(window, id));
}

}  // namespace

TEST(ThreadMessageTarget, PostsFromSeveralThreadsArriveInOrderOnTheLoopThread) {
  Recorder rec;
  ThreadMessageTarget target(rec.Handler());
  constexpr int kThreads = 4, kEach = 2000;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t)
    posters.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) ASSERT_TRUE(PostMessage(&target, WM_USER + 1, t, i));
    });
  for (auto& p : posters) p.join();

  std::thread::id loopThread;
  // RunSync queues behind every earlier post, so all of them are handled now.
  ASSERT_TRUE(target.RunSync([&] { loopThread = std::this_thread::get_id(); }));

  auto seen = rec.Seen();
  ASSERT_EQ(seen.size(), size_t(kThreads * kEach));
  std::map<WPARAM, LPARAM> next;
  for (const auto& r : seen) {
    EXPECT_EQ(r.message, WM_USER + 1u);
    EXPECT_EQ(r.lParam, next[r.wParam]++) << "thread " << r.wParam;
    EXPECT_EQ(r.thread, loopThread);
  }
  EXPECT_NE(loopThread, std::this_thread::get_id());
  EXPECT_FALSE(target.IsLoopThread());
}

TEST(ThreadMessageTarget, RunSyncRunsOnTheLoopAndReportsItsOutcome) {
  ThreadMessageTarget* self = nullptr;
  bool nestedRan = false, nestedOnLoop = false;
  ThreadMessageTarget target([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
    // On the loop thread RunSync must run at once rather than wait for itself.
    nestedRan = self->RunSync([&] { nestedOnLoop = self->IsLoopThread(); });
    return 0;
  });
  self = &target;
  ASSERT_TRUE(PostMessage(&target, WM_USER, 0, 0));
  ASSERT_TRUE(target.RunSync([] {}));
  EXPECT_TRUE(nestedRan);
  EXPECT_TRUE(nestedOnLoop);

  EXPECT_THROW(target.RunSync([] { throw std::runtime_error("x"); }), std::runtime_error);
  // The loop survives a failed piece of work.
  bool after = false;
  EXPECT_TRUE(target.RunSync([&] { after = true; }));
  EXPECT_TRUE(after);
}

TEST(ThreadMessageTarget, TimerWithProcedureFiresPeriodicallyOnTheLoopUntilKilled) {
  ThreadMessageTarget target([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
  ResetProcRecord(&target);
  std::thread::id loopThread;
  target.RunSync([&] { loopThread = std::this_thread::get_id(); });

  EXPECT_EQ(SetTimer(&target, 7, 10, RecordingProc), 7u);
  ASSERT_TRUE(WaitFor([] { return ProcFires() >= 4; }));
  // Killing on the loop thread means no firing is in progress afterwards.
  bool killed = false;
  target.RunSync([&] { killed = KillTimer(&target, 7); });
  EXPECT_TRUE(killed);
  const size_t fires = ProcFires();
  std::this_thread::sleep_for(60ms);
  EXPECT_EQ(ProcFires(), fires);
  EXPECT_FALSE(KillTimer(&target, 7)) << "already killed";

  std::lock_guard lock(g_procMutex);
  for (size_t i = 0; i < g_procFires.size(); ++i) {
    EXPECT_EQ(g_procFires[i].first, 7u);
    EXPECT_EQ(g_procThreads[i], loopThread);
    if (i > 0) {
      EXPECT_GE(uint32_t(g_procFires[i].second - g_procFires[i - 1].second), 1u);
    }
  }
}

TEST(ThreadMessageTarget, TimerWithoutProcedureSendsWmTimerWithItsId) {
  Recorder rec;
  ThreadMessageTarget target(rec.Handler());
  ASSERT_EQ(SetTimer(&target, 42, 5, nullptr), 42u);
  ASSERT_TRUE(WaitFor([&] { return rec.Count(WM_TIMER) >= 3; }));
  target.RunSync([&] { KillTimer(&target, 42); });
  for (const auto& r : rec.Seen()) {
    EXPECT_EQ(r.message, WM_TIMER);
    EXPECT_EQ(r.wParam, 42u);
    EXPECT_EQ(r.lParam, 0);
  }
}

TEST(ThreadMessageTarget, SettingATimerAgainRestartsIt) {
  ThreadMessageTarget target([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
  ResetProcRecord(&target);
  ASSERT_NE(SetTimer(&target, 1, 400, RecordingProc), 0u);
  std::this_thread::sleep_for(100ms);
  const uint32_t resetAt = GetTickCount();
  ASSERT_NE(SetTimer(&target, 1, 400, RecordingProc), 0u);
  // The first period would have ended 300 ms from now; the restart moves it.
  ASSERT_TRUE(WaitFor([] { return ProcFires() >= 1; }));
  {
    std::lock_guard lock(g_procMutex);
    EXPECT_GE(g_procFires[0].second - resetAt, 400u);
  }
  // A shorter period takes effect at once instead of after the long one.
  ASSERT_NE(SetTimer(&target, 1, 100000, RecordingProc), 0u);
  const size_t before = ProcFires();
  ASSERT_NE(SetTimer(&target, 1, 5, RecordingProc), 0u);
  EXPECT_TRUE(WaitFor([&] { return ProcFires() >= before + 2; }, 2000ms));
}

TEST(ThreadMessageTarget, TimerThatKillsItselfFiresOnce) {
  ThreadMessageTarget target([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
  g_oneShotFires = 0;
  ASSERT_NE(SetTimer(&target, 3, 2, OneShotProc), 0u);
  ASSERT_TRUE(WaitFor([] { return g_oneShotFires.load() >= 1; }));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(g_oneShotFires.load(), 1);
}

TEST(ThreadMessageTarget, FdWatchReportsReadinessOnTheLoopUntilUnwatched) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::mutex m;
  std::vector<std::string> got;
  std::vector<bool> onLoop;
  ThreadMessageTarget* self = nullptr;
  ThreadMessageTarget target([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
  self = &target;
  target.WatchFd(fds[0], POLLIN, [&](int fd, short revents) {
    char buf[64];
    ssize_t n = read(fd, buf, sizeof buf);
    std::lock_guard lock(m);
    if (n > 0 && (revents & POLLIN)) got.emplace_back(buf, size_t(n));
    onLoop.push_back(self->IsLoopThread());
  });
  ASSERT_EQ(write(fds[1], "abc", 3), 3);
  ASSERT_TRUE(WaitFor([&] { std::lock_guard lock(m); return !got.empty(); }));
  {
    std::lock_guard lock(m);
    EXPECT_EQ(got[0], "abc");
    EXPECT_TRUE(onLoop[0]);
  }

  target.UnwatchFd(fds[0]);
  target.RunSync([] {});  // the loop has rebuilt its poll set
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  std::this_thread::sleep_for(50ms);
  {
    std::lock_guard lock(m);
    EXPECT_EQ(got.size(), 1u);
  }
  close(fds[0]);
  close(fds[1]);
}

// Unwatching from another thread returns only after a callback in progress
// has ended, so the caller may close the descriptor at once.
TEST(ThreadMessageTarget, UnwatchFromAnotherThreadWaitsForTheRunningCallback) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::atomic<bool> entered{false}, left{false};
  ThreadMessageTarget target([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
  target.WatchFd(fds[0], POLLIN, [&](int fd, short) {
    entered = true;
    std::this_thread::sleep_for(150ms);
    char c;
    EXPECT_EQ(read(fd, &c, 1), 1) << "the descriptor was closed under the callback";
    left = true;
  });
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  ASSERT_TRUE(WaitFor([&] { return entered.load(); }));
  target.UnwatchFd(fds[0]);
  EXPECT_TRUE(left.load());
  close(fds[0]);
  close(fds[1]);
}

TEST(ThreadMessageTarget, ClosedWatchedFdIsReportedOnceNotForEver) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::atomic<int> calls{0};
  std::atomic<short> lastEvents{0};
  ThreadMessageTarget target([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
  // Close behind the loop's back while it is busy, so the next poll sees it.
  target.RunSync([&] {
    target.WatchFd(fds[0], POLLIN, [&](int, short revents) {
      ++calls;
      lastEvents = revents;
    });
    close(fds[0]);
  });
  ASSERT_TRUE(WaitFor([&] { return calls.load() >= 1; }));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(calls.load(), 1);
  EXPECT_TRUE(lastEvents.load() & POLLNVAL);
  close(fds[1]);
}

TEST(ThreadMessageTarget, StopWhilePostingEndsPostsCleanly) {
  std::atomic<long> handled{0};
  ThreadMessageTarget target([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
    ++handled;
    return 0;
  });
  std::atomic<int> refusedThreads{0};
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t)
    posters.emplace_back([&] {
      while (PostMessage(&target, WM_USER, 0, 0)) {
      }
      // Once refused, a stopped target refuses for good.
      for (int i = 0; i < 100; ++i) EXPECT_FALSE(PostMessage(&target, WM_USER, 0, 0));
      ++refusedThreads;
    });
  ASSERT_TRUE(WaitFor([&] { return handled.load() > 1000; }));
  target.Stop();
  for (auto& p : posters) p.join();
  EXPECT_EQ(refusedThreads.load(), 4);

  const long atStop = handled.load();
  EXPECT_FALSE(target.Post(WM_USER, 0, 0));
  EXPECT_EQ(SetTimer(&target, 1, 1, nullptr), 0u);
  EXPECT_FALSE(target.RunSync([] {}));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(handled.load(), atStop);
  target.Stop();  // a second stop is harmless
}

TEST(ThreadMessageTarget, RunSyncWaitingWhenTheTargetStopsReturnsFalse) {
  std::atomic<bool> release{false};
  ThreadMessageTarget target([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
    while (!release) std::this_thread::sleep_for(1ms);
    return 0;
  });
  ASSERT_TRUE(target.Post(WM_USER, 0, 0));  // keeps the loop busy
  std::atomic<int> result{-1};
  std::thread waiter([&] { result = target.RunSync([] {}) ? 1 : 0; });
  std::this_thread::sleep_for(30ms);
  std::thread stopper([&] { target.Stop(); });
  std::this_thread::sleep_for(30ms);
  release = true;
  stopper.join();
  waiter.join();
  EXPECT_EQ(result.load(), 0);
}

TEST(ThreadMessageTarget, DestroyedWhileOthersPostAndSetTimers) {
  auto target = std::make_unique<ThreadMessageTarget>([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
  const HWND handle = target.get();
  std::atomic<bool> started{false};
  std::atomic<int> finished{0};
  std::vector<std::thread> posters;
  for (int t = 0; t < 3; ++t)
    posters.emplace_back([&, t] {
      bool ok = true;
      while (ok) {
        started = true;
        ok = t == 0 ? SetTimer(handle, 5, 1, nullptr) != 0 : PostMessage(handle, WM_USER, 0, 0);
      }
      EXPECT_FALSE(PostMessage(handle, WM_USER, 0, 0));
      EXPECT_FALSE(KillTimer(handle, 5));
      ++finished;
    });
  ASSERT_TRUE(WaitFor([&] { return started.load(); }));
  std::this_thread::sleep_for(10ms);
  target.reset();
  for (auto& p : posters) p.join();
  EXPECT_EQ(finished.load(), 3);
}

TEST(ThreadMessageTarget, TargetDestroyedByItsOwnHandler) {
  std::unique_ptr<ThreadMessageTarget> target;
  std::atomic<int> handled{0};
  std::atomic<bool> gone{false};
  target = std::make_unique<ThreadMessageTarget>([&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
    ++handled;
    if (message == WM_USER + 9) {
      target.reset();  // the window that destroys itself
      gone = true;
    }
    return 0;
  });
  const HWND handle = target.get();
  ASSERT_TRUE(PostMessage(handle, WM_USER + 9, 0, 0));
  ASSERT_TRUE(WaitFor([&] { return gone.load(); }));
  EXPECT_FALSE(PostMessage(handle, WM_USER, 0, 0));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(handled.load(), 1);
}

TEST(FreeFunctions, FailOnNullOrUnknownWindow) {
  EXPECT_FALSE(PostMessage(nullptr, WM_USER, 0, 0));
  EXPECT_EQ(SetTimer(nullptr, 1, 10, nullptr), 0u);
  EXPECT_FALSE(KillTimer(nullptr, 1));

  QueuedMessageTarget target([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
  EXPECT_FALSE(KillTimer(&target, 99));
  // Id 0 is a timer like any other; SetTimer still reports success.
  EXPECT_NE(SetTimer(&target, 0, 10, nullptr), 0u);
  EXPECT_TRUE(KillTimer(&target, 0));
}

TEST(QueuedMessageTarget, PumpDispatchesOnTheCallerInOrderAndWakesTheOwner) {
  std::atomic<int> wakes{0};
  Recorder rec;
  QueuedMessageTarget target(rec.Handler(), [&] { ++wakes; });
  EXPECT_EQ(target.Pump(), 0);

  std::thread poster([&] {
    for (int i = 0; i < 100; ++i) PostMessage(&target, WM_USER + 2, i, -i);
  });
  poster.join();
  EXPECT_GE(wakes.load(), 1);
  EXPECT_TRUE(rec.Seen().empty()) << "nothing runs before Pump";
  EXPECT_EQ(target.Pump(), 100);
  auto seen = rec.Seen();
  ASSERT_EQ(seen.size(), 100u);
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(seen[i].wParam, WPARAM(i));
    EXPECT_EQ(seen[i].lParam, -i);
    EXPECT_EQ(seen[i].thread, std::this_thread::get_id());
  }
  EXPECT_EQ(target.Pump(), 0);
}

TEST(QueuedMessageTarget, MessagePostedDuringPumpWaitsForTheNextPump) {
  int handled = 0;
  QueuedMessageTarget* self = nullptr;
  QueuedMessageTarget target([&](HWND window, UINT, WPARAM, LPARAM) -> LRESULT {
    // A handler that re-posts to itself must not keep one Pump busy for ever.
    ++handled;
    PostMessage(window, WM_USER, 0, 0);
    return 0;
  });
  self = &target;
  ASSERT_TRUE(PostMessage(self, WM_USER, 0, 0));
  EXPECT_EQ(target.Pump(), 1);
  EXPECT_EQ(target.Pump(), 1);
  EXPECT_EQ(handled, 2);
}

TEST(QueuedMessageTarget, TimersAndNextTimerDue) {
  std::atomic<int> wakes{0};
  Recorder rec;
  QueuedMessageTarget target(rec.Handler(), [&] { ++wakes; });
  EXPECT_EQ(target.NextTimerDueMs(), -1);

  ASSERT_EQ(SetTimer(&target, 11, 1000, nullptr), 11u);
  EXPECT_GE(wakes.load(), 1) << "a timer change wakes the owner";
  int due = target.NextTimerDueMs();
  EXPECT_GT(due, 500);
  EXPECT_LE(due, 1000);

  // Restarting with a longer period moves the due time.
  ASSERT_EQ(SetTimer(&target, 11, 5000, nullptr), 11u);
  due = target.NextTimerDueMs();
  EXPECT_GT(due, 4000);
  EXPECT_LE(due, 5000);

  // The earliest timer decides. (Periods of some hundred milliseconds, so
  // that a pause of this thread on a busy machine does not make one due.)
  ASSERT_EQ(SetTimer(&target, 12, 400, nullptr), 12u);
  EXPECT_LE(target.NextTimerDueMs(), 400);
  EXPECT_EQ(target.Pump(), 0) << "not due yet";
  std::this_thread::sleep_for(450ms);
  EXPECT_EQ(target.NextTimerDueMs(), 0);
  EXPECT_EQ(target.Pump(), 1);
  ASSERT_EQ(rec.Count(WM_TIMER), 1u);
  EXPECT_EQ(rec.Seen()[0].wParam, 12u);
  // Periodic: due again one period later.
  EXPECT_GT(target.NextTimerDueMs(), 0);
  std::this_thread::sleep_for(450ms);
  EXPECT_EQ(target.Pump(), 1);

  EXPECT_TRUE(KillTimer(&target, 12));
  EXPECT_TRUE(KillTimer(&target, 11));
  EXPECT_EQ(target.NextTimerDueMs(), -1);
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(target.Pump(), 0);
}

TEST(QueuedMessageTarget, StopRefusesPostsAndTimers) {
  int handled = 0;
  QueuedMessageTarget target([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return ++handled; });
  ASSERT_TRUE(PostMessage(&target, WM_USER, 0, 0));
  target.Stop();
  EXPECT_FALSE(PostMessage(&target, WM_USER, 0, 0));
  EXPECT_EQ(SetTimer(&target, 1, 1, nullptr), 0u);
  EXPECT_EQ(target.Pump(), 0);
  EXPECT_EQ(handled, 0) << "what was queued before Stop is dropped";
}

TEST(QueuedMessageTarget, FullQueueRefusesUntilPumped) {
  int handled = 0;
  QueuedMessageTarget target([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return ++handled; });
  int accepted = 0;
  while (accepted < 200000 && PostMessage(&target, WM_USER, 0, 0)) ++accepted;
  EXPECT_EQ(accepted, 100000);
  EXPECT_EQ(target.Pump(), 100000);
  EXPECT_TRUE(PostMessage(&target, WM_USER, 0, 0));
}

TEST(QueuedMessageTarget, DestroyedByItsOwnHandlerDuringPump) {
  std::unique_ptr<QueuedMessageTarget> target;
  int handled = 0;
  target = std::make_unique<QueuedMessageTarget>([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
    ++handled;
    target.reset();
    return 0;
  });
  QueuedMessageTarget* raw = target.get();
  ASSERT_TRUE(PostMessage(raw, WM_USER, 0, 0));
  ASSERT_TRUE(PostMessage(raw, WM_USER, 0, 0));
  EXPECT_EQ(raw->Pump(), 1);
  EXPECT_EQ(handled, 1);
  EXPECT_FALSE(PostMessage(raw, WM_USER, 0, 0));
}

TEST(QueuedMessageTarget, DestructorWaitsForADirectCallInProgress) {
  std::atomic<bool> inWake{false}, wakeDone{false};
  auto target = std::make_unique<QueuedMessageTarget>(MessageHandler{}, [&] {
    inWake = true;
    std::this_thread::sleep_for(50ms);
    wakeDone = true;
  });
  // A library thread holding the raw handle calls the target itself.
  QueuedMessageTarget* raw = target.get();
  std::thread poster([raw] { raw->Post(WM_USER, 0, 0); });
  ASSERT_TRUE(WaitFor([&] { return inWake.load(); }));
  target.reset();
  EXPECT_TRUE(wakeDone.load()) << "the destructor returned while Post was still inside";
  poster.join();
}
