#include "platform/clock.h"

#include <cerrno>

namespace pellan {

namespace {
SystemClock g_systemClock;
Clock* g_currentClock = &g_systemClock;
}  // namespace

MonoTime SystemClock::Now() const {
  return std::chrono::time_point_cast<Duration>(std::chrono::steady_clock::now());
}

std::timespec SystemClock::WallNow() const {
  std::timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return ts;
}

void SystemClock::Sleep(Duration d) {
  if (d <= Duration::zero()) return;
  std::timespec req{};
  req.tv_sec = static_cast<std::time_t>(d.count() / 1'000'000'000);
  req.tv_nsec = static_cast<long>(d.count() % 1'000'000'000);
  while (nanosleep(&req, &req) == -1 && errno == EINTR) {
  }
}

TestClock::TestClock(Duration realGrace, std::time_t wallStart)
    : m_realGrace(realGrace), m_wallStart(wallStart) {}

std::timespec TestClock::WallNow() const {
  const auto ns = Elapsed().count();
  std::timespec ts{};
  ts.tv_sec = m_wallStart + static_cast<std::time_t>(ns / 1'000'000'000);
  ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
  return ts;
}

void TestClock::Advance(Duration d) {
  if (d > Duration::zero()) m_now += d;
}

Clock& CurrentClock() { return *g_currentClock; }

void SetCurrentClock(Clock* clock) { g_currentClock = clock ? clock : &g_systemClock; }

}  // namespace pellan
