// The client's logs, the login result files and the status line.
#include <fcntl.h>
#include <unistd.h>

#include <regex>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client/client_logs.h"
#include "client/headless_front_end.h"
#include "client_fixture.h"
#include "platform/date_text.h"

namespace pellan::client::test {
namespace {

class ClientLogsTest : public ClientTest {
 protected:
  ClientLogs m_logs{Home(), true};
};

TEST_F(ClientLogsTest, LineFormatsOfTheThreeLogsTheirSizeLimitAndTheLoginResultFiles) {
  m_logs.WriteLog("a\r\nb");
  m_logs.WriteMSG("220 hi");
  m_logs.WriteError("Timer2_Timer", "x", false);
  m_logs.WriteError("   ", "y", false);
  const std::string mark = "   {   " + NowText() + "   }   ";
  EXPECT_EQ(Read("plnrc.log"), "a\r\nb" + mark + "\r\n");
  EXPECT_EQ(Read("plnrc.msg"), "220 hi" + mark + "\r\n");
  EXPECT_EQ(Read("plnrc.err"), "[Timer2_Timer]x" + mark + "\r\n" + "y" + mark + "\r\n");

  // A log of exactly the limit is kept, one byte more is renamed NAME.1
  // (the three logs share the rule).
  const std::string full(static_cast<size_t>(ClientLogs::kSizeLimit), 'x');
  Put("plnrc.err", full);
  m_logs.WriteError("", "kept", false);
  EXPECT_EQ(Read("plnrc.err"), full + "kept" + mark + "\r\n");
  Put("plnrc.err", full + "x");
  m_logs.WriteError("", "new", false);
  EXPECT_EQ(Read("plnrc.err") + std::to_string(Read("plnrc.err.1").size()), "new" + mark + "\r\n1024001");
  // Nothing while logging is off; the login's result files are written even
  // so, each replacing only its own file.
  const std::string msg = Read("plnrc.msg");
  m_logs.SetLogOn(false);
  m_logs.WriteMSG("b");
  Put("succ.txt", "stale\r\n");
  Put("err.txt", "old reason that was longer\r\n");
  m_logs.WriteConnectLog(false, "530 Login incorrect.");
  const std::string first = Read("err.txt") + Read("succ.txt");
  m_logs.WriteConnectLog(true, "");
  EXPECT_EQ(first + "|" + Read("succ.txt") + Read("plnrc.msg"),
            "530 Login incorrect.\r\nstale\r\n|\r\n" + msg);
}

// A quiet pass writes the same lines five times a second: after the first
// time, a count; a partial repeat is written out when something else comes.
TEST_F(ClientLogsTest, LinesRepeatingTheLinesBeforeThemAreCounted) {
  for (int i = 0; i < 5; ++i) {
    m_logs.WriteLog("----");
    m_logs.WriteLog("scan");
    m_logs.WriteLog("Waiting...|2026-01-01 00:00:0" + std::to_string(i));
  }
  for (const char* line : {"----", "scan", "upload", "upload", "done"}) m_logs.WriteLog(line);
  EXPECT_EQ(std::regex_replace(Read("plnrc.log"), std::regex(" +\\{ +[-0-9: ]+ +\\} +\r\n"), "|"),
            "----|scan|Waiting...|2026-01-01 00:00:00|(the 3 line(s) before repeated 4 more time(s), the last at " +
                NowText() + ")|----|scan|upload|(the 1 line(s) before repeated 1 more time(s), the last at " +
                NowText() + ")|done|");
}

TEST(HeadlessFrontEndTest, OneLinePerNewStatusAndNeverBlocks) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
  {
    HeadlessClientFrontEnd frontEnd(fds[1]);
    WindowModel model;
    frontEnd.Attach(model);
    model.SetText("lblState", "[2026-01-01 00:00:00] 正在运行...");
    model.SetText("lblState", "[2026-01-01 00:00:01] 正在运行...");  // only the time moved
    model.SetText("lblCurState", "正在登录");                        // not the status line
    model.SetText("lblState", "[2026-01-01 00:00:02] a\rb\nc");
    for (const char* turn : {"正在运行...", "a\rb\nc", "正在运行...", "x"}) model.SetText("lblState", turn);
    char buf[256];
    const ssize_t n = read(fds[0], buf, sizeof buf);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buf, static_cast<size_t>(n)),
              "[2026-01-01 00:00:00] 正在运行...\n[2026-01-01 00:00:02] a b c\nx\n");

    // A pipe nobody reads: lines are dropped, the program goes on (a write
    // that waited would hang here).
    for (int i = 0; i < 2000; ++i) model.SetText("lblState", "[t] status " + std::to_string(i) + std::string(100, 'x'));
  }
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace pellan::client::test
