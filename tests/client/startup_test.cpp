// Start-up: the running-copy check, the status files, the logging switch,
// the path file's mode, and the command line.
#include "client/startup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "client_fixture.h"

namespace pellan::client::test {
namespace {

const std::vector<std::string> kStatusFiles = {"succ.txt", "err.txt", "clo.txt", "redo.txt", "stop.txt", "can.txt"};

// Start-up removes the status files (the companion's exit request stays).
// Logging is off without the log argument or a run log; a path file others
// can read is reported in the error log. A second copy touches nothing but
// plnrc.cal.
TEST_F(ClientTest, StartUpRemovesTheStatusFilesAndASecondCopyTouchesNothingElse) {
  for (const auto& name : kStatusFiles) Put(name, "\r\n");
  Put("exit.txt", "");
  Put("maoph.txt", DataFolder() + "\r\n127.0.0.1\r\n21\r\nu\r\npw\r\n");
  ASSERT_EQ(chmod(File("maoph.txt").c_str(), 0640), 0);
  ASSERT_TRUE(Form().Form_Load());
  std::string left;
  for (const auto& name : kStatusFiles) left += Exists(name) ? name : "";
  EXPECT_EQ(left + std::to_string(Exists("exit.txt")), "1");
  Form().ShowState("x", true, true);
  EXPECT_FALSE(Form().m_blnLogOn || Exists("plnrc.log") || Exists("plnrc.err"));
  m_form.reset();
  ASSERT_TRUE(Form(ClientSettings{Home(), true}).Form_Load());
  EXPECT_THAT(Read("plnrc.err"), MatchesRegex("\\[Form_Load\\]maoph.txt holds the FTP password and can be read by "
                                              "group or others \\(mode 0640\\); chmod 600 it   \\{[^\r]*\r\n"));
  Put("succ.txt", "\r\n");  // the running copy's login
  const std::string runLog = Read("plnrc.log");
  frmTLVFTP second(ClientSettings{Home(), true});
  EXPECT_FALSE(second.Form_Load());
  EXPECT_EQ(Read("plnrc.cal") + Read("succ.txt") + Read("plnrc.log"), " \r\n\r\n" + runLog);
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
