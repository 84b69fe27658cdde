// The timers of an event loop backend, read against the process clock: the
// table both backends keep, with the rules every backend follows (an
// interval of 0 never fires; enabling or re-timing restarts the countdown;
// a tick is never re-entered, and one missed meanwhile fires once when it
// returns; a timer removed anywhere never fires again).
#pragma once

#include <functional>
#include <map>
#include <memory>

#include "platform/event_loop.h"

namespace pellan {

// Marks a watch or timer as running for the length of its callback, also
// when the callback throws.
class RunningMark {
 public:
  explicit RunningMark(bool& flag) : m_flag(flag) { m_flag = true; }
  ~RunningMark() { m_flag = false; }
  RunningMark(const RunningMark&) = delete;
  RunningMark& operator=(const RunningMark&) = delete;

 private:
  bool& m_flag;
};

class TimerTable {
 public:
  void Add(TimerId id, Milliseconds interval, TimerCallback callback, bool enabled);
  void SetInterval(TimerId id, Milliseconds interval);
  void SetEnabled(TimerId id, bool enabled);
  bool Enabled(TimerId id) const;
  void Remove(TimerId id) { m_timers.erase(id); }
  size_t Count() const { return m_timers.size(); }

  // Runs every timer that is due, earliest first, each through `invoke`
  // (which calls the callback it is given). True when any ran.
  bool RunDue(const std::function<void(const TimerCallback&)>& invoke);
  // Time until the earliest timer that may fire; `cap` when none is sooner.
  Duration TimeToNext(Duration cap) const;

 private:
  struct Timer {
    Milliseconds interval;
    TimerCallback callback;
    bool enabled;
    bool running = false;
    MonoTime due;
  };
  std::map<TimerId, std::shared_ptr<Timer>> m_timers;
};

}  // namespace pellan
