// What the engine's sessions, which run on both loops, never show: a hang-up
// reaching a reader, interest that is dropped and asked for again, a tick
// that returns late, and timers that go away with their owner.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "platform/event_loop.h"
#include "support/test_env.h"

namespace pellan {
namespace {

using namespace std::chrono_literals;
using test::ScopedLoop;

TEST(EventLoop, WriteInterestOnlyWhileAskedForAndAHangupReachesAReader) {
  ScopedLoop s;
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
  int writes = 0;
  WatchId id = 0;
  id = s.Loop().AddWatch(fds[1], kIoWrite, [&](unsigned ev) {
    writes += (ev & kIoWrite) ? 1 : 100;
    s.Loop().SetWatchInterest(id, 0);  // nothing more to send
  });
  std::string seen;  // each step's result, in order
  const auto step = [&](auto value) { seen += std::to_string(value); };
  step(s.Loop().Pump()), step(s.Loop().Pump()), step(writes), step(s.Loop().WatchInterest(id));
  s.Loop().SetWatchInterest(id, kIoWrite);
  step(s.Loop().Pump()), step(writes);
  EXPECT_EQ(seen, "101012");
  unsigned hangup = 0;
  s.Loop().AddWatch(fds[0], kIoRead, [&](unsigned ev) { hangup = ev & kIoHangup; });
  s.Loop().RemoveWatch(id);
  close(fds[1]);
  EXPECT_TRUE(s.Loop().Pump());
  EXPECT_TRUE(hangup && s.Loop().WatchCount() == 1);
  close(fds[0]);
}

TEST(EventLoop, TimerTickIsNotReEnteredFiresOnceWhenItReturnsLateAndGoesWithItsOwner) {
  ScopedLoop s(true);
  int depth = 0, maxDepth = 0, ticks = 0;
  TimerId id = s.Loop().AddTimer(100ms, [&] {
    ++ticks;
    maxDepth = std::max(maxDepth, ++depth);
    if (ticks == 1) s.Loop().RunFor(550ms);  // five intervals pass inside
    --depth;
  }, true);
  s.Loop().RunFor(100ms);
  EXPECT_EQ(ticks * 10 + maxDepth, 11);
  // The ticks missed while it ran are not queued up: one more, then on schedule.
  s.Loop().WaitOnce(0ms);
  EXPECT_EQ(ticks, 2);
  s.Loop().RemoveTimer(id);

  int owned = 0;
  {
    LoopTimer t(100ms, [&] { ++owned; }, true);
    LoopTimer moved = std::move(t);
    EXPECT_TRUE(!t.Valid() && moved.Enabled());
    s.Loop().RunFor(250ms);
  }
  s.Loop().RunFor(1s);
  EXPECT_EQ(std::to_string(owned) + " " + std::to_string(s.Loop().TimerCount()), "2 0");
}

}  // namespace
}  // namespace pellan
