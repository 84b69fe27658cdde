// The event loop on Qt's own loop, for a process with a window: watches are
// socket notifiers, the timers' next deadline arms one precise Qt timer,
// posted calls are queued Qt calls, and a wait processes Qt's pending
// events, so the window keeps painting and taking clicks inside every wait
// of the engine, and a modal dialog's nested loop keeps the sockets and
// timers going.
//
// It keeps the rules of every backend (see event_loop.h): a watch is paused
// while its callback runs, a timer's tick is never re-entered and a tick
// missed meanwhile fires once afterwards, write interest only while asked
// for, nothing removed ever fires again. Timers are read against the
// process clock, so a test clock drives this backend as it drives the poll
// one. A QCoreApplication (or QApplication) must exist while it is used.
#pragma once

#include <QObject>
#include <QTimer>

#include <map>
#include <memory>
#include <vector>

#include "platform/event_loop.h"
#include "platform/timer_table.h"

class QSocketNotifier;

namespace pellan {

class QtEventLoop final : public EventLoop {
 public:
  QtEventLoop();
  ~QtEventLoop() override;
  QtEventLoop(const QtEventLoop&) = delete;
  QtEventLoop& operator=(const QtEventLoop&) = delete;

  WatchId AddWatch(int fd, unsigned interest, WatchCallback callback) override;
  void SetWatchInterest(WatchId id, unsigned interest) override;
  void RemoveWatch(WatchId id) override;

  TimerId AddTimer(Milliseconds interval, TimerCallback callback, bool enabled) override;
  void SetTimerInterval(TimerId id, Milliseconds interval) override;
  void SetTimerEnabled(TimerId id, bool enabled) override;
  bool TimerEnabled(TimerId id) const override;
  void RemoveTimer(TimerId id) override;

  void Post(Task task) override;
  bool Pump() override;
  bool WaitOnce(Duration maxWait) override;

  size_t TimerCount() const override { return m_timers.Count(); }

 private:
  struct Watch {
    int fd;
    unsigned interest;
    WatchCallback callback;
    bool running = false;
    std::unique_ptr<QSocketNotifier> reader;
    std::unique_ptr<QSocketNotifier> writer;
  };

  // Enables the watch's notifiers for its interest (none while it runs).
  void ArmNotifiers(WatchId id, Watch& w);
  void OnNotifier(WatchId id);
  void RunTask(const Task& task);
  bool RunDueTimers();
  // Points the Qt timer at the earliest timer that may fire.
  void ArmTick();
  // Processes Qt's events, waiting up to `wait` for the first when it is
  // positive. True when a watch, timer or posted call of ours ran.
  bool ProcessQtEvents(Duration wait);
  void BuryNotifiers(Watch& w);
  void EmptyGraveyard();

  QObject m_context;  // receiver of the queued calls (dropped with it)
  QTimer m_tick;      // the next timer deadline
  QTimer m_wake;      // ends a blocking wait at its bound
  std::map<WatchId, std::shared_ptr<Watch>> m_watches;
  TimerTable m_timers;
  // Notifiers of removed watches: one may be the sender of the signal that
  // is being delivered, so they are deleted only when no callback of ours
  // is on the stack.
  std::vector<std::unique_ptr<QSocketNotifier>> m_graveyard;
  uint64_t m_nextId = 1;
  uint64_t m_ran = 0;  // callbacks of ours run so far
  int m_depth = 0;     // callbacks of ours on the stack
};

}  // namespace pellan
