// Message targets: the stand-in for windows that receive posted messages and
// timers.
//
// A HWND names a MessageTarget. Any thread may post to it; the target's own
// thread dispatches each message to the target's handler, in posting order.
// Timers set on a target fire on the target's own thread: with a procedure,
// the procedure is called; without one, WM_TIMER is dispatched to the handler
// with the timer id as the word parameter. Setting a timer id that is already
// set restarts it with the new period.
//
// Two kinds of target:
// - ThreadMessageTarget owns a thread running its own loop, which also watches
//   file descriptors (the slave library's hidden socket window is one).
// - QueuedMessageTarget has no thread: whoever owns it calls Pump() on the
//   thread that is to handle the messages, whenever the wake function says
//   there is work. The Qt main window builds on it; tests pump it by hand.
#pragma once

#include <cstdint>
#include <functional>

using UINT = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using UINT_PTR = uintptr_t;

struct MessageTarget;
using HWND = MessageTarget*;

constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;

// Called on the target's thread when a timer set with it fires; the last
// argument is GetTickCount() at that moment.
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, uint32_t);

using MessageHandler = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// Every target is registered while it exists, so that the free functions
// below fail on the handle of a target that has been destroyed instead of
// reaching freed memory (a handle may be reused by a later target, as window
// handles are). The registry belongs to one copy of the platform layer: a
// library that carries its own private copy (the slave library) does not see
// the host's targets in it and calls their methods directly. The targets
// below also guard those direct calls: a destructor waits for calls already
// inside the target, and calls that arrive while it runs fail.
struct MessageTarget {
  MessageTarget();
  MessageTarget(const MessageTarget&);
  MessageTarget& operator=(const MessageTarget&) { return *this; }
  virtual ~MessageTarget();
  // Queues a message; false once the target has been stopped (or when 100000
  // messages already wait unhandled).
  virtual bool Post(UINT message, WPARAM wParam, LPARAM lParam) = 0;
  // Starts or restarts timer `id`; false once the target has been stopped.
  virtual bool StartTimer(UINT_PTR id, UINT periodMs, TIMERPROC proc) = 0;
  // False when no such timer is set.
  virtual bool StopTimer(UINT_PTR id) = 0;

 protected:
  // Makes the free functions fail on this target from now on and waits for
  // the calls already inside it to return. A target that other threads may
  // post to while it is destroyed calls this first in its own destructor (the
  // base destructor would be too late: the derived parts are gone by then).
  void Withdraw();
};

// The familiar free functions; each is safe to call from any thread and
// fails (false, 0) on a null window or one that has been destroyed. SetTimer
// returns the timer id (1 for id 0, which is a valid id too).
bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT periodMs, TIMERPROC proc);
bool KillTimer(HWND window, UINT_PTR id);

// Milliseconds since an arbitrary start, wrapping at 2^32 like the Win32 tick
// count; compare ticks with unsigned subtraction.
uint32_t GetTickCount();

#include <memory>

// A target with a thread of its own. The loop dispatches posted messages and
// timers to the handler and calls the watch callbacks of file descriptors
// that became ready, all on that one thread.
class ThreadMessageTarget : public MessageTarget {
 public:
  // Starts the thread at once.
  explicit ThreadMessageTarget(MessageHandler handler);
  // Stops the loop and joins the thread. Called on the loop thread itself (a
  // handler destroying its own target), it detaches the thread instead: the
  // loop keeps its state alive, dispatches nothing more and ends once the
  // handler returns.
  ~ThreadMessageTarget() override;

  bool Post(UINT message, WPARAM wParam, LPARAM lParam) override;
  bool StartTimer(UINT_PTR id, UINT periodMs, TIMERPROC proc) override;
  bool StopTimer(UINT_PTR id) override;

  // Watches `fd` for the poll() events in `events` (POLLIN, POLLOUT ...);
  // `ready` gets (fd, revents) on the loop thread each time poll() reports it.
  // Watching an fd again replaces its events and callback. Any thread.
  void WatchFd(int fd, short events, std::function<void(int fd, short revents)> ready);
  // Any thread; on return no callback for `fd` runs any more, so it may be
  // closed. From another thread it waits for a callback in progress.
  void UnwatchFd(int fd);

  // Runs `work` on the loop thread and waits for it to finish (runs it at once
  // when called on the loop thread). False once stopped.
  bool RunSync(const std::function<void()>& work);

  // Ends the loop after the message being handled; joins when not called on
  // the loop thread. Later posts and timers fail.
  void Stop();
  bool IsLoopThread() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// A target without a thread: messages and due timers wait until Pump() is
// called. `wake` is called (from any thread, possibly more than once) when a
// message arrives or the timers change, so that the owner can arrange a Pump()
// on its thread; `wake` must not wait for that thread (it may be called while
// the target is being destroyed there). Owners that cannot block use
// NextTimerDueMs() to schedule the next Pump() for the timers.
class QueuedMessageTarget : public MessageTarget {
 public:
  explicit QueuedMessageTarget(MessageHandler handler, std::function<void()> wake = {});
  ~QueuedMessageTarget() override;

  bool Post(UINT message, WPARAM wParam, LPARAM lParam) override;
  bool StartTimer(UINT_PTR id, UINT periodMs, TIMERPROC proc) override;
  bool StopTimer(UINT_PTR id) override;

  // Dispatches the messages queued so far and the timers now due, on the
  // calling thread; returns how many were dispatched.
  int Pump();
  // Milliseconds until the earliest timer is due (0 when one is due now), or
  // -1 when no timer is set.
  int NextTimerDueMs() const;
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};
