#include "platform/timer_table.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace pellan {

void TimerTable::Add(TimerId id, Milliseconds interval, TimerCallback callback, bool enabled) {
  auto timer = std::make_shared<Timer>(Timer{interval, std::move(callback), enabled, false, {}});
  timer->due = CurrentClock().Now() + interval;
  m_timers.emplace(id, std::move(timer));
}

void TimerTable::SetInterval(TimerId id, Milliseconds interval) {
  auto it = m_timers.find(id);
  if (it == m_timers.end()) return;
  it->second->interval = interval;
  it->second->due = CurrentClock().Now() + interval;
}

void TimerTable::SetEnabled(TimerId id, bool enabled) {
  auto it = m_timers.find(id);
  if (it == m_timers.end()) return;
  Timer& t = *it->second;
  if (enabled && !t.enabled) t.due = CurrentClock().Now() + t.interval;
  t.enabled = enabled;
}

bool TimerTable::Enabled(TimerId id) const {
  auto it = m_timers.find(id);
  return it != m_timers.end() && it->second->enabled;
}

bool TimerTable::RunDue(const std::function<void(const TimerCallback&)>& invoke) {
  const MonoTime now = CurrentClock().Now();
  std::vector<std::pair<MonoTime, TimerId>> due;
  for (const auto& [id, t] : m_timers) {
    if (t->enabled && !t->running && t->interval.count() > 0 && t->due <= now) due.emplace_back(t->due, id);
  }
  std::sort(due.begin(), due.end());
  bool ran = false;
  for (const auto& [when, id] : due) {
    auto it = m_timers.find(id);
    if (it == m_timers.end()) continue;
    std::shared_ptr<Timer> t = it->second;  // kept alive through its own removal
    // An earlier tick may have disabled, re-timed or entered this timer.
    if (!t->enabled || t->running || t->interval.count() <= 0 || t->due > now) continue;
    t->due = now + t->interval;
    RunningMark mark(t->running);
    ran = true;
    invoke(t->callback);
  }
  return ran;
}

Duration TimerTable::TimeToNext(Duration cap) const {
  const MonoTime now = CurrentClock().Now();
  Duration best = cap;
  for (const auto& [id, t] : m_timers) {
    if (!t->enabled || t->running || t->interval.count() <= 0) continue;
    best = std::min(best, std::max(Duration::zero(), t->due - now));
  }
  return best;
}

}  // namespace pellan
