// The start button in every mode, the automatic login, the pass timer and
// the hide count, against the scripted FTP server on the test clock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client_fixture.h"
#include "support/fake_ftp_server.h"

namespace pellan::client::test {
namespace {

using ::testing::StartsWith;

class SessionTest : public ClientTest {
 protected:
  bool Start(const std::string& caption, ClientSettings settings = {}) {
    return StartAndWaitFor(m_server.Port(), caption, settings);
  }
  bool LoggedIn() { return Start("停    止"); }
  // "login caption|start button|m_intState|running|exit button and close
  // colour|settings inputs|pass timer|lblCurState".
  std::string State() {
    frmTLVFTP& f = Form();
    const WindowModel& m = f.Model();
    size_t on = 0;
    for (const auto& name : WindowModel::SettingsInputs()) on += m.Enabled(name) ? 1 : 0;
    return f.LoginCaption() + "|" + m.Text("btnStart") + "|" + std::to_string(f.m_intState) +
           (f.m_blnRunning ? "|running" : "|idle") + (m.Enabled("btnExit") ? "|exit on" : "|exit off") +
           (m.CloseLabelColour() == CloseColour::kExitAllowed ? " allowed" : " blocked") + "|settings " +
           (on == 0 ? "off" : on == WindowModel::SettingsInputs().size() ? "on" : "mixed") +
           (f.Timer1Enabled() ? "|timer on|" : "|timer off|") + m.Text("lblCurState");
  }

  FakeFtpServer m_server;
};

TEST_F(SessionTest, AutomaticLoginStartsThePassesHidesTheWindowAndStopKeepsTheSession) {
  Put("plnrc.log", "");
  m_server.Login().Expect("QUIT");
  std::vector<Duration> passStarts;
  Form().FolderPass = [&] {
    passStarts.push_back(Elapsed());
    m_loop.Loop().RunFor(50ms);  // a pass that waits inside, as transfers do
  };
  ASSERT_TRUE(LoggedIn());
  frmTLVFTP& f = Form();
  // The first pass ran at once, inside the click.
  EXPECT_EQ(Read("succ.txt") + State() + std::to_string(f.Model().WindowShown()) + std::to_string(f.Timer4Enabled()) +
                std::to_string(passStarts.size()) + std::to_string(f.m_intHideCount),
            "\r\n停    止|停    止|1|running|exit off blocked|settings off|timer on|0012");

  ASSERT_TRUE(RunUntil([&] { return passStarts.size() == 5; }, 1s));
  for (size_t i = 1; i < passStarts.size(); ++i) {
    EXPECT_GE(passStarts[i] - passStarts[i - 1], 250ms);  // the pass, then at least the period
  }
  EXPECT_THAT(f.Model().Text("lblState"), HasSubstr("] 正在运行..."));
  // The server's lines go to the message log.
  EXPECT_THAT(Read("plnrc.msg"), HasSubstr("USER user   {   "));

  // A stop keeps the session, and the next click runs again without a new login.
  f.lblLogin_Click();
  EXPECT_EQ(Read("stop.txt"), "\r\n");
  EXPECT_EQ(State(), "登    录|开启|1|idle|exit on allowed|settings on|timer off|");
  EXPECT_THAT(f.Model().Text("lblState"), MatchesRegex("\\[[-0-9: ]+\\] 已停止"));
  const size_t before = passStarts.size();
  f.m_dtLastActive = Moment::Now();
  // No passes after a stop, and the watchdog sleeps.
  ASSERT_FALSE(RunUntil([&] { return passStarts.size() > before; }, 60s));
  EXPECT_THAT(Read("plnrc.err"), Not(HasSubstr("Timer2_Timer")));
  EXPECT_EQ(std::to_string(f.m_blnForced) + std::to_string(f.m_blnAbortSent) +
                std::to_string(f.FtpLibrary1().Connected()),
            "001");
  f.imgLogin_Click();
  EXPECT_EQ(State(), "停    止|停    止|1|running|exit off blocked|settings off|timer on|");
  EXPECT_GT(passStarts.size(), before);
  // Closed while the session runs, the window takes the exit request's
  // path: the session quits and the companion hears the client closed.
  f.EndProgram = [this](int status) { m_ended = status; };  // as the window does: the call returns
  f.WindowClosed();
  EXPECT_EQ(End(), "0|\r\n|no tray");
  EXPECT_TRUE(RunUntil([&] { return m_server.Finished(); }, 5s));
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

// A failed login leaves the reason for the companion. With --retry-login,
// the retries run while the failure box is up (modal, nobody closes it), a
// second failure adds no second box, and the third try logs in; a retry
// writes redo.txt and resets neither err.txt nor succ.txt.
TEST_F(SessionTest, AFailedLoginLeavesTheReasonAndTheRetriesRunWhileTheFailureBoxIsShown) {
  Put("plnrc.log", "");  // logging on: the failure shows a box
  for (int i = 0; i < 2; ++i) {
    m_server.Script("220 hi|USER user>331 pw|PASS pass>530 Login incorrect.|<close>");
  }
  m_server.Login();
  std::vector<Duration> boxTimes;
  std::string atBox;
  m_frontEnd.whileShown = [&] {
    boxTimes.push_back(Elapsed());
    // The companion is told before the box.
    atBox = Read("err.txt") + std::to_string(Exists("succ.txt")) + State() + "|" +
            Form().Model().Text("lblState");
    if (boxTimes.size() == 1) m_loop.Loop().WaitFor([&] { return Form().LoginCaption() == "停    止"; }, 100s);
  };
  ASSERT_TRUE(Start("停    止", {.retryLoginSeconds = 30}));
  EXPECT_THAT(
      atBox,
      StartsWith("530 Login incorrect.\r\n0重    试|开启|2|idle|exit on allowed|settings mixed|timer off|"));
  EXPECT_THAT(m_frontEnd.boxes, ElementsAre("连接远程服务器失败\r\n530 Login incorrect."));
  // Retried after 30 seconds, then (failing again) after twice that.
  EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(Elapsed() - boxTimes[0]).count(), 90);
  EXPECT_EQ(
      Read("redo.txt") + Read("succ.txt") + Read("err.txt") + State() +
          std::to_string(Form().RetryTimerEnabled()),
      "\r\n\r\n530 Login incorrect.\r\n停    止|停    止|1|running|exit off blocked|settings off|timer on|0");
}

TEST_F(SessionTest, StartChecksEndTheClickWithAMessage) {
  struct Case {
    std::string pathFile, box, focus, state;
  };
  const std::vector<Case> cases = {
      {DataFolder() + "\r\n", "服务器地址不能为空", "txtServerName", "登    录|开启|0|idle|exit off blocked|settings mixed|timer off|正在登录"},
      // lblCurState is cleared for a missing folder.
      {Home() + "/missing\r\n127.0.0.1\r\n", "文件夹[" + Home() + "/missing]不存在!", "", "登    录|开启|0|idle|exit off blocked|settings mixed|timer off|"},
  };
  for (const auto& c : cases) {
    m_form.reset();
    m_frontEnd.boxes.clear();
    Put("maoph.txt", c.pathFile);
    ASSERT_TRUE(Form().Form_Load());
    ASSERT_TRUE(RunUntil([&] { return !m_frontEnd.boxes.empty(); }, 2s)) << c.box;
    EXPECT_THAT(m_frontEnd.boxes, ElementsAre(c.box));
    EXPECT_EQ(Form().Model().Focus(), c.focus);
    EXPECT_EQ(State(), c.state);
    EXPECT_EQ(m_server.ConnectionCount(), 0);
  }
}

TEST_F(SessionTest, TheAutomaticLoginFiresOnceEvenWhileItsLoginWaits) {
  m_server.Reply("220 hi").Expect("USER user").Stall();
  WriteSite(m_server.Port());
  ASSERT_TRUE(Form().Form_Load());
  ASSERT_TRUE(RunUntil([&] { return Form().LoginCaption() == "重    试"; }, 60s));  // the login timed out
  EXPECT_GE(Elapsed(), 30s);
  ASSERT_FALSE(RunUntil([&] { return m_server.ConnectionCount() > 1; }, 120s));
  EXPECT_EQ(std::to_string(m_server.ConnectionCount()) + std::to_string(Form().Timer4Enabled()), "10");
}

}  // namespace
}  // namespace pellan::client::test
