#include "platform/poll_event_loop.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

namespace pellan {

WatchId PollEventLoop::AddWatch(int fd, unsigned interest, WatchCallback callback) {
  const WatchId id = m_nextId++;
  m_watches.emplace(id, std::make_shared<Watch>(Watch{fd, interest & (kIoRead | kIoWrite), std::move(callback)}));
  return id;
}

void PollEventLoop::SetWatchInterest(WatchId id, unsigned interest) {
  auto it = m_watches.find(id);
  if (it != m_watches.end()) it->second->interest = interest & (kIoRead | kIoWrite);
}

void PollEventLoop::RemoveWatch(WatchId id) {
  // A callback that is running keeps its own reference until it returns.
  m_watches.erase(id);
}

TimerId PollEventLoop::AddTimer(Milliseconds interval, TimerCallback callback, bool enabled) {
  const TimerId id = m_nextId++;
  m_timers.Add(id, interval, std::move(callback), enabled);
  return id;
}

void PollEventLoop::SetTimerInterval(TimerId id, Milliseconds interval) { m_timers.SetInterval(id, interval); }
void PollEventLoop::SetTimerEnabled(TimerId id, bool enabled) { m_timers.SetEnabled(id, enabled); }
bool PollEventLoop::TimerEnabled(TimerId id) const { return m_timers.Enabled(id); }
void PollEventLoop::RemoveTimer(TimerId id) { m_timers.Remove(id); }

void PollEventLoop::Post(Task task) { m_posted.push_back(std::move(task)); }

bool PollEventLoop::RunPosted() {
  // Only what was posted before this turn: a task that posts again must not
  // keep the turn going for ever.
  size_t count = m_posted.size();
  bool ran = false;
  while (count-- > 0 && !m_posted.empty()) {
    Task task = std::move(m_posted.front());
    m_posted.pop_front();
    ran = true;
    if (task) task();
  }
  return ran;
}

bool PollEventLoop::PollAndDispatch(Duration timeout) {
  std::vector<pollfd> fds;
  std::vector<WatchId> ids;
  fds.reserve(m_watches.size());
  ids.reserve(m_watches.size());
  for (const auto& [id, w] : m_watches) {
    if (w->running || w->interest == 0) continue;
    short events = 0;
    if (w->interest & kIoRead) events |= POLLIN;
    if (w->interest & kIoWrite) events |= POLLOUT;
    fds.push_back(pollfd{w->fd, events, 0});
    ids.push_back(id);
  }
  if (timeout < Duration::zero()) timeout = Duration::zero();
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(timeout.count() / 1'000'000'000);
  ts.tv_nsec = static_cast<long>(timeout.count() % 1'000'000'000);
  const int n = ppoll(fds.data(), fds.size(), &ts, nullptr);
  if (n <= 0) return false;  // time-out, or EINTR: nothing ran

  bool ran = false;
  for (size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents == 0) continue;
    auto it = m_watches.find(ids[i]);
    if (it == m_watches.end()) continue;  // removed by an earlier callback
    std::shared_ptr<Watch> w = it->second;
    if (w->running) continue;
    unsigned events = 0;
    if ((fds[i].revents & POLLIN) && (w->interest & kIoRead)) events |= kIoRead;
    if ((fds[i].revents & POLLOUT) && (w->interest & kIoWrite)) events |= kIoWrite;
    if (fds[i].revents & (POLLERR | POLLNVAL)) events |= kIoError;
    if (fds[i].revents & POLLHUP) events |= kIoHangup;
    if (w->interest == 0 || events == 0) continue;
    RunningMark mark(w->running);
    ran = true;
    w->callback(events);
  }
  return ran;
}

bool PollEventLoop::RunDueTimers() {
  return m_timers.RunDue([](const TimerCallback& tick) { tick(); });
}

bool PollEventLoop::Pump() {
  bool ran = RunPosted();
  ran = PollAndDispatch(Duration::zero()) || ran;
  ran = RunDueTimers() || ran;
  return ran;
}

bool PollEventLoop::WaitOnce(Duration maxWait) {
  if (Pump()) return true;
  if (maxWait < Duration::zero()) maxWait = Duration::zero();
  const Duration wait = m_posted.empty() ? m_timers.TimeToNext(maxWait) : Duration::zero();
  Clock& clock = GetClock();
  if (PollAndDispatch(clock.RealWaitFor(wait))) return true;
  clock.Idled(wait);
  return RunDueTimers();
}

// ---------------------------------------------------------------------------

bool EventLoop::WaitUntil(const std::function<bool()>& done, MonoTime deadline) {
  for (;;) {
    if (done()) return true;
    const MonoTime now = GetClock().Now();
    if (now >= deadline) return false;
    WaitOnce(deadline - now);
  }
}

bool EventLoop::WaitFor(const std::function<bool()>& done, Duration timeout) {
  return WaitUntil(done, GetClock().Now() + timeout);
}

void EventLoop::RunFor(Duration d) {
  WaitFor([] { return false; }, d);
}

namespace {
EventLoop* g_currentLoop = nullptr;
}

EventLoop& CurrentLoop() {
  if (!g_currentLoop) {
    static PollEventLoop defaultLoop;
    g_currentLoop = &defaultLoop;
  }
  return *g_currentLoop;
}

void SetCurrentLoop(EventLoop* loop) { g_currentLoop = loop; }

// ---------------------------------------------------------------------------

LoopTimer::LoopTimer(Milliseconds interval, TimerCallback callback, bool enabled)
    : m_loop(&CurrentLoop()) {
  m_id = m_loop->AddTimer(interval, std::move(callback), enabled);
}

LoopTimer::~LoopTimer() { Release(); }

LoopTimer::LoopTimer(LoopTimer&& other) noexcept
    : m_loop(std::exchange(other.m_loop, nullptr)), m_id(std::exchange(other.m_id, 0)) {}

LoopTimer& LoopTimer::operator=(LoopTimer&& other) noexcept {
  if (this != &other) {
    Release();
    m_loop = std::exchange(other.m_loop, nullptr);
    m_id = std::exchange(other.m_id, 0);
  }
  return *this;
}

void LoopTimer::Release() {
  if (m_loop) m_loop->RemoveTimer(m_id);
  m_loop = nullptr;
  m_id = 0;
}

bool LoopTimer::Enabled() const { return m_loop && m_loop->TimerEnabled(m_id); }
void LoopTimer::SetEnabled(bool enabled) {
  if (m_loop) m_loop->SetTimerEnabled(m_id, enabled);
}
void LoopTimer::SetInterval(Milliseconds interval) {
  if (m_loop) m_loop->SetTimerInterval(m_id, interval);
}

LoopWatch::LoopWatch(int fd, unsigned interest, WatchCallback callback) : m_loop(&CurrentLoop()) {
  m_id = m_loop->AddWatch(fd, interest, std::move(callback));
}

LoopWatch::~LoopWatch() { Reset(); }

LoopWatch::LoopWatch(LoopWatch&& other) noexcept
    : m_loop(std::exchange(other.m_loop, nullptr)), m_id(std::exchange(other.m_id, 0)) {}

LoopWatch& LoopWatch::operator=(LoopWatch&& other) noexcept {
  if (this != &other) {
    Reset();
    m_loop = std::exchange(other.m_loop, nullptr);
    m_id = std::exchange(other.m_id, 0);
  }
  return *this;
}

void LoopWatch::Reset() {
  if (m_loop) m_loop->RemoveWatch(m_id);
  m_loop = nullptr;
  m_id = 0;
}

void LoopWatch::SetInterest(unsigned interest) {
  if (m_loop) m_loop->SetWatchInterest(m_id, interest);
}

}  // namespace pellan
