// The stall watchdog, the companion's activation and exit requests, and the
// exit signals, on the test clock.
#include <signal.h>

#include <ctime>
#include <regex>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client/exit_signals.h"
#include "client_fixture.h"
#include "support/fake_ftp_server.h"

namespace pellan::client::test {
namespace {

// The AT(...) and RC(...) lines of the error log: what each says, the time
// stamp it last renewed and the tick that saw it.
std::vector<std::tuple<std::string, std::time_t, std::time_t>> WatchdogLines(const std::string& log) {
  static const std::regex line(
      R"(\[Timer2_Timer\]((?:AT|RC)\([A-Z]*:[0-9]+\))\[([-0-9: ]+)#([-0-9: ]+)\]   \{)");
  const auto time = [](const std::string& text) {
    std::tm tm{};
    strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &tm);
    return timegm(&tm);
  };
  std::vector<std::tuple<std::string, std::time_t, std::time_t>> out;
  for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it) {
    out.emplace_back((*it)[1], time((*it)[2]), time((*it)[3]));
  }
  return out;
}

class TimersTest : public ClientTest {
 protected:
  bool LoggedIn() {
    Put("plnrc.log", "");
    return StartAndWaitFor(m_server.Port(), "停    止");
  }
  FakeFtpServer m_server;
};

// A call that does not come back and shows no progress, in a transfer
// (true) or not: aborted at the first 3-second tick past 20 (10) seconds,
// which ends the call long before its own 30-second time-out; the session
// is closed at the first tick more than 25 (15) seconds after the abort
// renewed the time stamp.
class StallTest : public TimersTest, public ::testing::WithParamInterface<bool> {};

TEST_P(StallTest, AStalledCallIsAbortedOnceThenTheSessionClosed) {
  const bool transfer = GetParam();
  const int abortLimit = transfer ? 20 : 10, closeAfter = transfer ? 27 : 18;
  m_server.Login().Expect("TYPE I").Stall();
  int passes = 0;
  long sizeError = 0;
  Duration returnedAfter{};
  Form().FolderPass = [&] {
    if (++passes > 1) return;
    frmTLVFTP& f = Form();
    f.m_strDirection = transfer ? "UP" : "";
    f.m_dtLastActive = Moment::Now();
    const Duration start = Elapsed();
    f.FtpLibrary1().GetRemoteFileSize("R1.txt");  // the server never answers
    sizeError = f.FtpLibrary1().ErrorNumber();
    returnedAfter = Elapsed() - start;
    RunUntil([&] { return f.m_blnForced; }, 120s);
    f.m_strDirection.clear();
  };
  ASSERT_TRUE(LoggedIn());
  ASSERT_TRUE(RunUntil([&] { return passes > 1; }, 120s));
  EXPECT_EQ(sizeError, 16010);
  EXPECT_LT(returnedAfter, std::chrono::seconds(abortLimit + 4));
  // Forced, no abort pending, not connected.
  EXPECT_EQ(std::to_string(Form().m_blnForced) + std::to_string(Form().m_blnAbortSent) +
                std::to_string(Form().FtpLibrary1().Connected()),
            "100");
  const auto lines = WatchdogLines(Read("plnrc.err"));
  ASSERT_EQ(lines.size(), 2u) << Read("plnrc.err");
  const auto& [abort, abortLast, abortNow] = lines[0];
  const auto& [close, closeLast, closeNow] = lines[1];
  EXPECT_EQ(abort + close, transfer ? "AT(UP:20)RC(UP:25)" : "AT(:10)RC(:15)");
  const auto late = abortNow - abortLast - abortLimit;  // seconds past the limit
  EXPECT_TRUE(late >= 1 && late <= 3) << late;
  EXPECT_EQ(closeLast, abortNow);
  EXPECT_EQ(closeNow - closeLast, closeAfter);
}

INSTANTIATE_TEST_SUITE_P(TransferOrNot, StallTest, ::testing::Bool());

// The companion's exit file (true) or SIGTERM (false) arrives while a call
// of the pass waits on a server that never answers: the call is aborted
// and the program ends inside it.
class ExitDuringAPassTest : public TimersTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ExitDuringAPassTest, AbortsTheCallAndEndsInsideIt) {
  const bool byFile = GetParam();
  m_server.Login().Expect("TYPE I").Stall();
  bool returned = false;
  Form().FolderPass = [&] {
    Form().FtpLibrary1().GetRemoteFileSize("R1.txt");
    returned = true;
  };
  std::vector<int> signals;
  ExitSignals exitSignals([&](int signo) {
    signals.push_back(signo);
    Form().RequestExit();
  });
  ASSERT_TRUE(exitSignals.Installed());
  LoopTimer request(5s, [&] { byFile ? Put("exit.txt", "") : (void)raise(SIGTERM); }, true);
  LoggedIn();  // the program ends inside the pass, before the login's caller sees the caption
  EXPECT_LT(Elapsed(), 6s);
  EXPECT_EQ(signals, byFile ? std::vector<int>{} : std::vector<int>{SIGTERM});
  EXPECT_EQ(End() + "|" + std::to_string(returned) + std::to_string(Form().FtpLibrary1().Busy()) +
                std::to_string(Exists("exit.txt")) + std::to_string(Form().m_intState) +
                std::to_string(Form().m_blnExiting),
            std::string("0|\r\n|no tray|00") + (byFile ? "1" : "0") + "31");
}

INSTANTIATE_TEST_SUITE_P(FileOrSignal, ExitDuringAPassTest, ::testing::Bool());

}  // namespace
}  // namespace pellan::client::test
