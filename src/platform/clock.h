// Time for the whole process: one clock behind every timer, deadline, pause
// and "now". Intervals use the monotonic reading; the date-time reading is
// only for display and logs, so a change of the system clock never fires a
// watchdog early or late.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>

namespace pellan {

using Duration = std::chrono::nanoseconds;
using Milliseconds = std::chrono::milliseconds;

// A point on the monotonic time line (arbitrary epoch).
using MonoTime = std::chrono::time_point<std::chrono::steady_clock, Duration>;

class Clock {
 public:
  virtual ~Clock() = default;

  // Monotonic now, for intervals and deadlines.
  virtual MonoTime Now() const = 0;

  // Wall-clock now, for date texts (seconds since the Unix epoch, with nanoseconds).
  virtual std::timespec WallNow() const = 0;

  // Blocks the thread for d without running anything else (a test clock just
  // moves forward).
  virtual void Sleep(Duration d) = 0;

  // The event loop asks, before it blocks in poll: how long may poll really
  // wait when the next deadline is `d` away? A real clock answers d; a test
  // clock answers a short real grace so that the loop only looks at what is
  // ready now.
  virtual Duration RealWaitFor(Duration d) const = 0;

  // The event loop says: nothing became ready while waiting up to `d` (after
  // really waiting RealWaitFor(d)). A test clock jumps forward by d.
  virtual void Idled(Duration d) = 0;

  // True for clocks that jump instead of waiting (used only by diagnostics).
};

// The system's clocks.
class SystemClock final : public Clock {
 public:
  MonoTime Now() const override;
  std::timespec WallNow() const override;
  void Sleep(Duration d) override;
  Duration RealWaitFor(Duration d) const override { return d; }
  void Idled(Duration) override {}
};

// A clock for tests: time stands still until the loop is idle or someone
// sleeps, and then jumps straight to the next deadline, so a test of a
// 30-second time-out takes microseconds. `realGrace` is how long the loop
// really waits for a file descriptor before declaring itself idle; tests that
// talk to a peer in another process or thread give it a few milliseconds.
class TestClock final : public Clock {
 public:
  explicit TestClock(Duration realGrace = Duration::zero(),
                     std::time_t wallStart = 1'780'000'000 /* 2026-05-28 */);

  MonoTime Now() const override { return m_now; }
  std::timespec WallNow() const override;
  void Sleep(Duration d) override { Advance(d); }
  Duration RealWaitFor(Duration d) const override { return d < m_realGrace ? d : m_realGrace; }
  void Idled(Duration d) override { Advance(d); }

  void Advance(Duration d);
  void SetRealGrace(Duration g) { m_realGrace = g; }
  Duration Elapsed() const { return m_now - MonoTime{}; }

 private:
  MonoTime m_now{};
  Duration m_realGrace;
  std::time_t m_wallStart;
};

// The process-wide clock (a SystemClock unless a test installs another).
Clock& CurrentClock();
void SetCurrentClock(Clock* clock);  // nullptr restores the system clock

// Milliseconds between two monotonic points, rounded down.
inline int64_t ElapsedMs(MonoTime from, MonoTime to) {
  return std::chrono::duration_cast<Milliseconds>(to - from).count();
}

}  // namespace pellan
