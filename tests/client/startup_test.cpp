// Start-up: the running-copy check, the status files, the logging switch,
// the path file's mode, what the window shows, and the command line.
#include "client/startup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "client_fixture.h"

namespace pellan::client::test {
namespace {

using ::testing::MatchesRegex;
using ::testing::StartsWith;

const std::vector<std::string> kStatusFiles = {"succ.txt", "err.txt", "clo.txt", "redo.txt", "stop.txt", "can.txt"};

// Start-up removes the status files and shows the window. Logging is on
// with the log argument or an empty run log; a path file others can read is
// reported once in the error log, a private one not.
TEST_F(ClientTest, StartUpShowsTheWindowRemovesTheStatusFilesAndSwitchesLoggingOn) {
  for (const auto& name : kStatusFiles) Put(name, "\r\n");
  Put("exit.txt", "");  // the companion's request stays
  Put("maoph.txt", DataFolder() + "\r\n127.0.0.1\r\n21\r\nu\r\npw\r\n");
  ASSERT_EQ(chmod(File("maoph.txt").c_str(), 0640), 0);
  ASSERT_TRUE(Form().Form_Load());
  std::string left;
  for (const auto& name : kStatusFiles) left += Exists(name) ? name : "";
  const WindowModel& m = Form().Model();
  EXPECT_EQ(left + "|" + m.Caption() + "|" + m.TrayTip() + "|" + m.Text("lblLogin"),
            "|[客户端]Pellan远程连接 V" + VersionText() + "|[客户端]Pellan远程连接| 取消登录 ");
  // Nothing comes down before the first upload; timers 2 to 4 run, not the pass timer.
  EXPECT_EQ(std::to_string(Exists("exit.txt")) + std::to_string(m.TrayIcon() && m.WindowShown()) +
                std::to_string(Form().m_dtLastUpload.has_value()) + std::to_string(Form().Timer1Enabled()) +
                std::to_string(Form().Timer2Enabled() && Form().Timer3Enabled() && Form().Timer4Enabled()),
            "11001");
  Form().ShowState("x", true, true);
  EXPECT_FALSE(Form().m_blnLogOn || Exists("plnrc.log") || Exists("plnrc.err"));
  m_form.reset();
  ASSERT_TRUE(Form(ClientSettings{Home(), true}).Form_Load());
  EXPECT_THAT(Read("plnrc.log"), StartsWith("------------------V"));
  EXPECT_THAT(Read("plnrc.err"), MatchesRegex("\\[Form_Load\\]maoph.txt holds the FTP password and can be read by "
                                              "group or others \\(mode 0640\\); chmod 600 it   \\{[^\r]*\r\n"));
  m_form.reset();
  unlink(File("plnrc.err").c_str());
  ASSERT_EQ(chmod(File("maoph.txt").c_str(), 0600), 0);
  Put("plnrc.log", "");
  ASSERT_TRUE(Form().Form_Load());
  EXPECT_TRUE(Form().m_blnLogOn);
  EXPECT_THAT(Read("plnrc.log"), MatchesRegex("------------------V" + VersionText() + "_" +
                                              Form().FtpLibrary1().Version() +
                                              "------------------   \\{   [-0-9: ]+   \\}   \r\n"));
  EXPECT_FALSE(Exists("plnrc.err"));

  // A second copy leaves an activation request and touches nothing else;
  // once the first copy is gone, a new one starts normally.
  Put("succ.txt", "\r\n");  // the running copy's login
  const std::string runLog = Read("plnrc.log");
  frmTLVFTP second(ClientSettings{Home(), true});
  EXPECT_FALSE(second.Form_Load());
  EXPECT_EQ(
      Read("plnrc.cal") + Read("succ.txt") + std::to_string(second.Timer4Enabled() || second.Timer3Enabled()),
      " \r\n\r\n0");
  EXPECT_EQ(Read("plnrc.log"), runLog);
  m_form.reset();
  frmTLVFTP third(ClientSettings{Home(), false});
  EXPECT_TRUE(third.Form_Load());
  EXPECT_FALSE(Exists("succ.txt"));
}

TEST(ClientOptionsTest, CommandLine) {
  std::string error;
  auto o = ParseClientOptions({"--home", "/srv/p", "log", "--codepage", "gbk", "--headless", "--retry-login", "30",
                               "--direct-uploads"},
                              &error);
  const auto text = [](const ClientOptions& o) {
    return std::to_string(o.log) + "|" + o.home + "|" + o.codePage + "|" + std::to_string(o.headless) + "|" +
           std::to_string(o.retryLoginSeconds) + std::to_string(o.directUploads);
  };
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(text(*o), "1|/srv/p|GBK|1|301");
  o = ParseClientOptions({}, &error);
  ASSERT_TRUE(o);
  EXPECT_EQ(text(*o), "0||UTF-8|0|00");

  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"LOG"}, {"--home"}, {"--codepage", "latin1"}, {"--retry-login", "0"},
                                             {"--retry-login", "5s"}, {"--retry-login", "86401"}, {"-x"}}) {
    error.clear();
    EXPECT_FALSE(ParseClientOptions(bad, &error)) << bad[0];
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace pellan::client::test
