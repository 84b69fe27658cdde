// A day of passes on the test clock against the scripted server: a batch
// every ten minutes (an upload, then its reply coming down), the session
// dropped by the server every hour and logged in again. Memory in use and
// open descriptors after the last hour are those after the first.
#include <dirent.h>
#include <malloc.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "client_fixture.h"
#include "support/fake_ftp_server.h"

namespace pellan::client::test {
namespace {

// Bytes the allocator has handed out, and descriptors open.
std::pair<size_t, int> Footprint() {
  int fds = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir)) ++fds;
    closedir(dir);
  }
  return {mallinfo2().uordblks, fds};
}

// Loopback answers come within a few microseconds: the clock need not wait
// a millisecond for them at each of the day's 432,000 passes.
class LongRunTest : public ClientTest {
 protected:
  LongRunTest() : ClientTest(std::chrono::microseconds(50)) {}
};

TEST_F(LongRunTest, ADayOfPassesEndsWithTheFootprintOfItsFirstHour) {
  // The day takes minutes of the poll loop and over ten of Qt's; what it
  // watches (the client's and the engine's memory and descriptors) is the same.
  const char* loop = getenv("PELLAN_TEST_LOOP");
  if (loop != nullptr && std::string(loop) == "qt") GTEST_SKIP() << "poll loop only";
  FakeFtpServer server;
  server.Login().AnswerByDefault();
  server.ListFiles();
  m_quietPasses = false;
  int tick = 0, batches = 0;
  LoopTimer clock(std::chrono::seconds(30), [&] {
    ++tick;
    if (tick % 20 == 1) Put("data/Tq.txt", "order " + std::to_string(++batches));
    if (tick % 20 == 3) server.SetFile("data/Rr.txt", "reply " + std::to_string(batches));
    if (tick % 120 == 60) server.Drop();
  }, true);
  ASSERT_TRUE(StartAndWaitFor(server.Port(), kCaptionStop));
  RunUntil([] { return false; }, std::chrono::hours(1));
  server.ForgetHistory();
  const auto first = Footprint();
  RunUntil([] { return false; }, std::chrono::hours(23));
  server.ForgetHistory();
  const auto last = Footprint();

  EXPECT_EQ(batches, 144);
  EXPECT_EQ(Read("data/Rr.txt"), "reply 144");
  EXPECT_FALSE(Exists("data/Tq.txt"));
  EXPECT_EQ(server.Files().at("data/Tq.txt"), "order 144");
  EXPECT_EQ(last.second, first.second);
  EXPECT_LE(last.first, first.first + 4096) << first.first;
  EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
}

}  // namespace
}  // namespace pellan::client::test
