// The event loop: the one thread's source of socket readiness, timer ticks
// and deferred calls. Every wait of the engine runs this loop, so handlers
// re-enter the engine from inside a wait; the loop's own bookkeeping is safe
// against a watch or timer being removed from inside any callback, including
// its own, and inside nested pumps.
//
// Rules every backend keeps:
// - a watch's callback is never re-entered: the watch is paused while its
//   callback runs, so a nested pump does not dispatch the same readiness;
// - a timer's tick is never re-entered either; a tick that was due while it
//   ran fires once when it returns (ticks are coalesced, never queued);
// - write interest is whatever the owner asked for (ask for it only while
//   data waits to be sent: an idle socket is always writable);
// - a watch or timer removed anywhere never fires again;
// - posted calls run in the order they were posted, on a later turn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/clock.h"

namespace pellan {

enum IoEvent : unsigned {
  kIoRead = 1,
  kIoWrite = 2,
  kIoError = 4,   // only ever reported, never asked for
  kIoHangup = 8,  // only ever reported, never asked for
};

using WatchId = uint64_t;
using TimerId = uint64_t;
using WatchCallback = std::function<void(unsigned ioEvents)>;
using TimerCallback = std::function<void()>;
using Task = std::function<void()>;

class EventLoop {
 public:
  virtual ~EventLoop() = default;

  // File-descriptor watches. `interest` is a mix of kIoRead and kIoWrite; a
  // watch with no interest is not polled at all.
  virtual WatchId AddWatch(int fd, unsigned interest, WatchCallback callback) = 0;
  virtual void SetWatchInterest(WatchId id, unsigned interest) = 0;
  virtual void RemoveWatch(WatchId id) = 0;

  // Repeating timers. An interval of 0 never fires. Enabling a timer or
  // changing its interval starts its countdown afresh.
  virtual TimerId AddTimer(Milliseconds interval, TimerCallback callback, bool enabled = true) = 0;
  virtual void SetTimerInterval(TimerId id, Milliseconds interval) = 0;
  virtual void SetTimerEnabled(TimerId id, bool enabled) = 0;
  virtual bool TimerEnabled(TimerId id) const = 0;
  virtual void RemoveTimer(TimerId id) = 0;

  // Runs `task` on a later turn of the loop.
  virtual void Post(Task task) = 0;

  // Runs what is ready now, without blocking. True when anything ran.
  virtual bool Pump() = 0;

  // Blocks for at most `maxWait` until something has run; returns at once
  // when something ran. True when anything ran.
  virtual bool WaitOnce(Duration maxWait) = 0;

  // Runs the loop until `done` holds (true) or `deadline` passes (false).
  // `done` is checked before each turn.
  bool WaitUntil(const std::function<bool()>& done, MonoTime deadline);
  bool WaitFor(const std::function<bool()>& done, Duration timeout);

  // Lets events run for `d`.
  void RunFor(Duration d);

  // How many timers exist (for leak checks).
  virtual size_t TimerCount() const = 0;

  Clock& GetClock() const { return CurrentClock(); }
};

// The process-wide loop (created on first use unless a host installs one).
EventLoop& CurrentLoop();
void SetCurrentLoop(EventLoop* loop);  // nullptr: back to the default loop

// A timer owned by an object: removed when the object goes.
class LoopTimer {
 public:
  LoopTimer() = default;
  LoopTimer(Milliseconds interval, TimerCallback callback, bool enabled = false);
  ~LoopTimer();
  LoopTimer(LoopTimer&& other) noexcept;
  LoopTimer& operator=(LoopTimer&& other) noexcept;
  LoopTimer(const LoopTimer&) = delete;
  LoopTimer& operator=(const LoopTimer&) = delete;

  bool Enabled() const;
  void SetEnabled(bool enabled);
  void SetInterval(Milliseconds interval);
  bool Valid() const { return m_loop != nullptr; }

 private:
  void Release();
  EventLoop* m_loop = nullptr;
  TimerId m_id = 0;
};

// A watch owned by an object: removed when the object goes.
class LoopWatch {
 public:
  LoopWatch() = default;
  LoopWatch(int fd, unsigned interest, WatchCallback callback);
  ~LoopWatch();
  LoopWatch(LoopWatch&& other) noexcept;
  LoopWatch& operator=(LoopWatch&& other) noexcept;
  LoopWatch(const LoopWatch&) = delete;
  LoopWatch& operator=(const LoopWatch&) = delete;

  void SetInterest(unsigned interest);
  void Reset();  // removes the watch now
  bool Valid() const { return m_loop != nullptr; }

 private:
  EventLoop* m_loop = nullptr;
  WatchId m_id = 0;
};

}  // namespace pellan
