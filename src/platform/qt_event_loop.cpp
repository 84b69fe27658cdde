#include "platform/qt_event_loop.h"

#include <poll.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <utility>

namespace pellan {

namespace {

class DepthGuard {
 public:
  explicit DepthGuard(int& depth) : m_depth(depth) { ++m_depth; }
  ~DepthGuard() { --m_depth; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  int& m_depth;
};

std::chrono::milliseconds CeilMs(Duration d) {
  return std::chrono::ceil<std::chrono::milliseconds>(std::max(d, Duration::zero()));
}

// An exception must never unwind through Qt's dispatching: it is kept here
// and thrown again once the wait that dispatched it is back in our frames.
std::exception_ptr g_pending;

template <class F>
void Shielded(F&& f) {
  try {
    f();
  } catch (...) {
    if (!g_pending) g_pending = std::current_exception();
  }
}

void RethrowPending() {
  if (g_pending) std::rethrow_exception(std::exchange(g_pending, nullptr));
}

}  // namespace

QtEventLoop::QtEventLoop() {
  if (QCoreApplication::instance() == nullptr) {
    std::fputs("QtEventLoop needs a QCoreApplication\n", stderr);
    std::abort();
  }
  m_tick.setSingleShot(true);
  m_tick.setTimerType(Qt::PreciseTimer);
  QObject::connect(&m_tick, &QTimer::timeout, &m_context, [this] {
    Shielded([this] { RunDueTimers(); });  // points it at the next deadline again
  });
  m_wake.setSingleShot(true);
  m_wake.setTimerType(Qt::PreciseTimer);
}

QtEventLoop::~QtEventLoop() {
  for (auto& [id, w] : m_watches) BuryNotifiers(*w);
  m_watches.clear();
  m_graveyard.clear();
}

// ---------------------------------------------------------------- watches

WatchId QtEventLoop::AddWatch(int fd, unsigned interest, WatchCallback callback) {
  const WatchId id = m_nextId++;
  auto w = std::make_shared<Watch>();
  w->fd = fd;
  w->interest = interest & (kIoRead | kIoWrite);
  w->callback = std::move(callback);
  m_watches.emplace(id, w);
  ArmNotifiers(id, *w);
  return id;
}

void QtEventLoop::ArmNotifiers(WatchId id, Watch& w) {
  auto arm = [&](std::unique_ptr<QSocketNotifier>& n, QSocketNotifier::Type type, bool wanted) {
    if (wanted && !n) {
      n = std::make_unique<QSocketNotifier>(w.fd, type);
      QObject::connect(n.get(), &QSocketNotifier::activated, &m_context, [this, id] { OnNotifier(id); });
    }
    if (n && n->isEnabled() != wanted) n->setEnabled(wanted);
  };
  arm(w.reader, QSocketNotifier::Read, !w.running && (w.interest & kIoRead));
  arm(w.writer, QSocketNotifier::Write, !w.running && (w.interest & kIoWrite));
}

void QtEventLoop::SetWatchInterest(WatchId id, unsigned interest) {
  auto it = m_watches.find(id);
  if (it == m_watches.end()) return;
  it->second->interest = interest & (kIoRead | kIoWrite);
  ArmNotifiers(id, *it->second);
}

void QtEventLoop::RemoveWatch(WatchId id) {
  auto it = m_watches.find(id);
  if (it == m_watches.end()) return;
  BuryNotifiers(*it->second);
  m_watches.erase(it);  // a callback that is running keeps its own reference
  EmptyGraveyard();
}

void QtEventLoop::BuryNotifiers(Watch& w) {
  for (auto* n : {&w.reader, &w.writer}) {
    if (!*n) continue;
    (*n)->setEnabled(false);
    m_graveyard.push_back(std::move(*n));
  }
}

void QtEventLoop::EmptyGraveyard() {
  if (m_depth == 0) m_graveyard.clear();
}

void QtEventLoop::OnNotifier(WatchId id) {
  if (g_pending) return;  // level-triggered: it comes again after the rethrow
  auto it = m_watches.find(id);
  if (it == m_watches.end()) return;
  std::shared_ptr<Watch> w = it->second;
  if (w->running || w->interest == 0) return;
  // Qt reports an error or a hang-up as readiness; ask the descriptor for
  // the whole truth so that callbacks see what the poll backend reports.
  pollfd p{w->fd, 0, 0};
  if (w->interest & kIoRead) p.events |= POLLIN;
  if (w->interest & kIoWrite) p.events |= POLLOUT;
  if (poll(&p, 1, 0) <= 0) return;
  unsigned events = 0;
  if (p.revents & POLLIN) events |= kIoRead;
  if (p.revents & POLLOUT) events |= kIoWrite;
  if (p.revents & (POLLERR | POLLNVAL)) events |= kIoError;
  if (p.revents & POLLHUP) events |= kIoHangup;
  if (events == 0) return;

  Shielded([&] {
    RunningMark running(w->running);
    DepthGuard depth(m_depth);
    ArmNotifiers(id, *w);  // paused for the length of the callback
    ++m_ran;
    w->callback(events);
  });
  auto again = m_watches.find(id);
  if (again != m_watches.end() && again->second == w) ArmNotifiers(id, *w);
}

// ---------------------------------------------------------------- timers

TimerId QtEventLoop::AddTimer(Milliseconds interval, TimerCallback callback, bool enabled) {
  const TimerId id = m_nextId++;
  m_timers.Add(id, interval, std::move(callback), enabled);
  if (enabled) ArmTick();
  return id;
}

void QtEventLoop::SetTimerInterval(TimerId id, Milliseconds interval) {
  m_timers.SetInterval(id, interval);
  ArmTick();
}


void QtEventLoop::SetTimerEnabled(TimerId id, bool enabled) {
  const bool was = m_timers.Enabled(id);
  m_timers.SetEnabled(id, enabled);
  if (enabled && !was) ArmTick();
}

bool QtEventLoop::TimerEnabled(TimerId id) const { return m_timers.Enabled(id); }
void QtEventLoop::RemoveTimer(TimerId id) { m_timers.Remove(id); }

bool QtEventLoop::RunDueTimers() {
  // However the ticks end, the Qt timer is pointed at the next deadline
  // (a tick missed while its own ran is due at once).
  struct Rearm {
    QtEventLoop* loop;
    ~Rearm() { loop->ArmTick(); }
  } rearm{this};
  return m_timers.RunDue([this](const TimerCallback& tick) {
    DepthGuard depth(m_depth);
    ++m_ran;
    tick();
  });
}

void QtEventLoop::ArmTick() {
  const Duration next = m_timers.TimeToNext(Duration::max());
  if (next == Duration::max()) {
    m_tick.stop();
    return;
  }
  m_tick.start(CeilMs(next));
}

// ---------------------------------------------------------------- posted calls

void QtEventLoop::Post(Task task) {
  QMetaObject::invokeMethod(
      &m_context, [this, task = std::move(task)] { RunTask(task); }, Qt::QueuedConnection);
}

void QtEventLoop::RunTask(const Task& task) {
  if (g_pending) {
    Post(task);  // after the rethrow, on a later turn
    return;
  }
  Shielded([&] {
    DepthGuard depth(m_depth);
    ++m_ran;
    if (task) task();
  });
}

// ---------------------------------------------------------------- turns

bool QtEventLoop::ProcessQtEvents(Duration wait) {
  const uint64_t before = m_ran;
  EmptyGraveyard();
  if (wait > Duration::zero()) {
    m_wake.start(CeilMs(wait));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    m_wake.stop();
  } else {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
  EmptyGraveyard();
  RethrowPending();
  return m_ran != before;
}

bool QtEventLoop::Pump() {
  bool ran = ProcessQtEvents(Duration::zero());
  ran = RunDueTimers() || ran;
  return ran;
}

bool QtEventLoop::WaitOnce(Duration maxWait) {
  if (Pump()) return true;
  if (maxWait < Duration::zero()) maxWait = Duration::zero();
  const Duration wait = m_timers.TimeToNext(maxWait);
  Clock& clock = GetClock();
  if (ProcessQtEvents(clock.RealWaitFor(wait))) return true;
  clock.Idled(wait);
  return RunDueTimers();
}

}  // namespace pellan
