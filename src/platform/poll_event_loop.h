// The headless event loop backend: ppoll(2) over the watched descriptors,
// timers kept in a table and read against the process clock.
#pragma once

#include <deque>
#include <map>
#include <memory>

#include "platform/event_loop.h"
#include "platform/timer_table.h"

namespace pellan {

class PollEventLoop final : public EventLoop {
 public:
  PollEventLoop() = default;
  ~PollEventLoop() override = default;
  PollEventLoop(const PollEventLoop&) = delete;
  PollEventLoop& operator=(const PollEventLoop&) = delete;

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
  };

  bool RunPosted();
  bool PollAndDispatch(Duration timeout);
  bool RunDueTimers();

  std::map<WatchId, std::shared_ptr<Watch>> m_watches;
  TimerTable m_timers;
  std::deque<Task> m_posted;
  uint64_t m_nextId = 1;
};

}  // namespace pellan
