// What the engine's sessions, which run on both loops, never show: a tick
// that returns late, and timers that go away with their owner.
#include <string>

#include <gtest/gtest.h>

#include "platform/event_loop.h"
#include "support/test_env.h"

namespace pellan {
namespace {

using namespace std::chrono_literals;
using test::ScopedLoop;

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
