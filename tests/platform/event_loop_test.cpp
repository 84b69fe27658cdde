#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/event_loop.h"
#include "support/test_env.h"

namespace pellan {
namespace {

using namespace std::chrono_literals;
using test::ScopedLoop;

// A non-blocking pipe closed at the end of the test.
struct Pipe {
  int fds[2] = {-1, -1};
  int &r = fds[0], &w = fds[1];
  Pipe() { pipe2(fds, O_NONBLOCK | O_CLOEXEC); }
  ~Pipe() {
    for (int fd : fds) if (fd >= 0) close(fd);
  }
  void Put() { ASSERT_EQ(write(w, "x", 1), 1); }
  void Drain() {
    char buf[256];
    while (read(r, buf, sizeof buf) > 0) {
    }
  }
};

TEST(EventLoop, WatchIsNotReDispatchedInsideItsOwnCallbackButFiresAgainAfter) {
  ScopedLoop s;
  Pipe p;
  int calls = 0, nestedRan = 0;
  s.Loop().AddWatch(p.r, kIoRead, [&](unsigned ev) {
    calls += (ev & kIoRead) ? 1 : 100;
    // The pipe stays readable; a nested pump must not dispatch it again.
    for (int i = 0; i < 3; ++i) nestedRan += s.Loop().Pump() ? 1 : 0;
  });
  p.Put();
  std::string seen;
  // Level-triggered: still unread, so the next turn dispatches it again.
  for (int i = 0; i < 3; ++i) {
    if (i == 2) p.Drain();
    seen += std::to_string(s.Loop().Pump());
    seen += std::to_string(calls) + " ";
  }
  EXPECT_EQ(seen + std::to_string(nestedRan), "11 12 02 0");
}

TEST(EventLoop, NestedPumpDispatchesOtherWatchesAndTimers) {
  ScopedLoop s(true);
  Pipe a, b;
  std::vector<std::string> order;
  s.Loop().AddWatch(a.r, kIoRead, [&](unsigned) {
    a.Drain();
    order.push_back("a-in");
    b.Put();
    s.Loop().WaitFor([&] { return order.size() >= 3; }, 1s);
    order.push_back("a-out");
  });
  s.Loop().AddWatch(b.r, kIoRead, [&](unsigned) { b.Drain(), order.push_back("b"); });
  s.Loop().AddTimer(50ms, [&] { order.push_back("t"); }, true);
  a.Put();
  s.Loop().WaitFor([&] { return order.size() >= 4; }, 1s);
  EXPECT_EQ(order, (std::vector<std::string>{"a-in", "b", "t", "a-out"}));
}

TEST(EventLoop, WatchRemovedInItsOwnCallbackByAnotherOrInANestedPumpNeverFiresAgain) {
  ScopedLoop s;
  Pipe a, b, c, d;
  int aCalls = 0, bCalls = 0, cCalls = 0, dCalls = 0;
  WatchId aId = 0, bId = 0, cId = 0, dId = 0;
  // a and b are ready in the same turn; whichever runs first removes the
  // other directly, and c from inside a nested pump through a posted task.
  auto first = [&](int& calls, Pipe& own, WatchId& other) {
    return [&](unsigned) {
      ++calls;
      own.Drain();
      s.Loop().RemoveWatch(other);
      s.Loop().Post([&] { s.Loop().RemoveWatch(cId); });
      s.Loop().Pump();
    };
  };
  aId = s.Loop().AddWatch(a.r, kIoRead, first(aCalls, a, bId));
  bId = s.Loop().AddWatch(b.r, kIoRead, first(bCalls, b, aId));
  cId = s.Loop().AddWatch(c.r, kIoRead, [&](unsigned) { ++cCalls; });
  // d removes itself, and its closure still runs safely after that.
  dId = s.Loop().AddWatch(d.r, kIoRead, [&](unsigned) {
    ++dCalls;
    s.Loop().RemoveWatch(dId);
    s.Loop().Pump();
    ++dCalls;
  });
  for (Pipe* p : {&a, &b, &c, &d}) p->Put();
  s.Loop().Pump();
  s.Loop().Pump();
  EXPECT_EQ(std::vector<size_t>({size_t(aCalls + bCalls), size_t(cCalls), size_t(dCalls), s.Loop().WatchCount()}),
            std::vector<size_t>({1, 0, 2, 1}));
}

TEST(EventLoop, WriteInterestOnlyWhileAskedForAndAHangupReachesAReader) {
  ScopedLoop s;
  Pipe p;
  int writes = 0;
  WatchId id = 0;
  id = s.Loop().AddWatch(p.w, kIoWrite, [&](unsigned ev) {
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
  s.Loop().AddWatch(p.r, kIoRead, [&](unsigned ev) { hangup = ev & kIoHangup; });
  s.Loop().RemoveWatch(id);
  close(p.w);
  p.w = -1;
  EXPECT_TRUE(s.Loop().Pump());
  EXPECT_TRUE(hangup);
}

TEST(EventLoop, WaitEndsOnReadinessLongBeforeItsBound) {
  ScopedLoop s;  // real time
  Pipe p;
  bool got = false;
  s.Loop().AddWatch(p.r, kIoRead, [&](unsigned) { p.Drain(), got = true; });
  std::thread writer([&] {
    std::this_thread::sleep_for(30ms);
    p.Put();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(s.Loop().WaitFor([&] { return got; }, 120s));
  writer.join();
  // The bound is two minutes; ending on the event means ending far sooner.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
}

TEST(EventLoop, WaitOnVirtualTimeTakesDataThatIsAlreadyThereWithoutMovingTheClock) {
  ScopedLoop s(true);
  Pipe p;
  bool got = false;
  s.Loop().AddWatch(p.r, kIoRead, [&](unsigned) { p.Drain(), got = true; });
  s.Loop().AddTimer(1000ms, [] {}, true);
  p.Put();
  EXPECT_TRUE(s.Loop().WaitFor([&] { return got; }, 30s));
  EXPECT_EQ(s.Clock()->Elapsed(), Duration::zero());
}

TEST(EventLoop, TimersFireInDeadlineOrderAndOnSchedule) {
  ScopedLoop s(true);
  std::vector<int> order;
  std::vector<TimerId> ids(3);
  const int delays[3] = {300, 100, 200};
  for (size_t i = 0; i < 3; ++i) {
    ids[i] = s.Loop().AddTimer(Milliseconds(delays[i]), [&, i] {
      order.push_back(delays[i]);
      s.Loop().SetTimerEnabled(ids[i], false);  // one tick each
    }, true);
  }
  EXPECT_TRUE(s.Loop().WaitFor([&] { return order.size() == 3; }, 10s));
  order.push_back(static_cast<int>(std::chrono::duration_cast<Milliseconds>(s.Clock()->Elapsed()).count()));
  EXPECT_EQ(order, (std::vector<int>{100, 200, 300, 300}));  // and the time when the last fired
  // A repeating timer ticks on schedule; a zero interval never fires, and
  // an idle wait still ends.
  int ticks = 0, zeroTicks = 0;
  s.Loop().AddTimer(100ms, [&] { ++ticks; }, true);
  s.Loop().AddTimer(0ms, [&] { ++zeroTicks; }, true);
  s.Loop().RunFor(1050ms);
  const int ticksIn1050 = ticks;
  EXPECT_FALSE(s.Loop().WaitFor([] { return false; }, 3s));
  EXPECT_EQ(std::to_string(ticksIn1050) + " " + std::to_string(zeroTicks), "10 0");
  EXPECT_EQ(s.Clock()->Elapsed(), Duration(4350ms));
}

TEST(EventLoop, TimerTickIsNotReEnteredAndFiresOnceWhenItReturnsLate) {
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
  s.Loop().SetTimerEnabled(id, false);
}

TEST(EventLoop, EnablingOrRetimingATimerRestartsItsCountdown) {
  ScopedLoop s(true);
  std::vector<int64_t> at;
  TimerId id = s.Loop().AddTimer(1000ms, [&] {
    at.push_back(std::chrono::duration_cast<Milliseconds>(s.Clock()->Elapsed()).count());
  }, true);
  s.Loop().RunFor(700ms);
  s.Loop().SetTimerEnabled(id, false);
  s.Loop().RunFor(5000ms);  // disabled: no tick
  s.Loop().SetTimerEnabled(id, true);  // at 5700: next tick 6700
  s.Loop().RunFor(1500ms);             // to 7200
  s.Loop().SetTimerInterval(id, 200ms);  // at 7200: next tick 7400
  s.Loop().RunFor(250ms);
  EXPECT_EQ(at, (std::vector<int64_t>{6700, 7400}));
  EXPECT_FALSE(s.Loop().TimerEnabled(id + 1000));
}

TEST(EventLoop, TimerRemovedInItsOwnTickOrByAnEarlierTickNeverFiresAgain) {
  ScopedLoop s(true);
  int a = 0, b = 0;
  TimerId aId = 0, bId = 0;
  aId = s.Loop().AddTimer(100ms, [&] {
    ++a;
    s.Loop().RemoveTimer(aId);
    s.Loop().RemoveTimer(bId);  // due at the same moment, not run yet
    s.Loop().Pump();
  }, true);
  bId = s.Loop().AddTimer(100ms, [&] { ++b; }, true);
  s.Loop().RunFor(1s);
  EXPECT_EQ(std::to_string(a) + std::to_string(b) + std::to_string(s.Loop().TimerCount()), "100");
}

TEST(EventLoop, PostedTasksRunInOrderAndTasksPostedByTasksRunOnALaterTurn) {
  ScopedLoop s;
  std::string order;
  s.Loop().Post([&] {
    order += "1";
    s.Loop().Post([&] { order += "4"; });
  });
  s.Loop().Post([&] { order += "2"; });
  s.Loop().Post([&] { order += "3"; });
  for (int i = 0; i < 3; ++i) order += s.Loop().Pump() ? "|" : "|idle";
  EXPECT_EQ(order, "123|4||idle");
}

TEST(EventLoop, OwnedTimerAndWatchGoAwayWithTheirOwner) {
  ScopedLoop s(true);
  Pipe p;
  int ticks = 0, reads = 0;
  {
    LoopTimer t(100ms, [&] { ++ticks; }, true);
    LoopWatch w(p.r, kIoRead, [&](unsigned) { ++reads; });
    LoopTimer moved = std::move(t);
    EXPECT_FALSE(t.Valid());
    EXPECT_TRUE(moved.Enabled());
    s.Loop().RunFor(250ms);
  }
  p.Put();
  s.Loop().RunFor(1s);
  EXPECT_EQ(std::vector<size_t>({size_t(ticks), size_t(reads), s.Loop().TimerCount(), s.Loop().WatchCount()}),
            std::vector<size_t>({2, 0, 0, 0}));
}

}  // namespace
}  // namespace pellan
