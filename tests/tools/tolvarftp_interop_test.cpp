// tolvarftp end to end: the built program against real servers. Results go
// to stdout one line each; the failing command's error to stderr.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "run_tool.h"
#include "support/ftp_servers.h"
#include "support/scratch_state_home.h"
#include "support/test_env.h"

namespace pellan::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

class TolvarFtpTest : public ::testing::TestWithParam<FtpServerKind> {
 protected:
  void SetUp() override {
    m_server = MakeFtpServer(GetParam());
    PELLAN_START_FTP_SERVER_OR_SKIP(*m_server);
    m_passwordFile = m_scratch.File("password");
    ASSERT_TRUE(WriteWholeFile(m_passwordFile, m_server->Password() + "\n"));
  }

  // The options that reach the server, then `commands` as -c arguments.
  std::vector<std::string> Args(const std::vector<std::string>& commands) const {
    std::vector<std::string> args{"--host", m_server->Host(), "--port", std::to_string(m_server->Port()),
                                  "--user", m_server->User(), "--password-file", m_passwordFile};
    for (const auto& c : commands) {
      args.push_back("-c");
      args.push_back(c);
    }
    return args;
  }

  std::unique_ptr<RealFtpServer> m_server;
  TempDir m_scratch;
  std::string m_passwordFile;
};

TEST_P(TolvarFtpTest, RunsCommandsInOrderAndPrintsOneLinePerResult) {
  ASSERT_TRUE(m_server->PutFile("my file.txt", "bye"));
  ASSERT_TRUE(m_server->PutFile("data.bin", "12345"));
  const ToolRun r = RunTool(Args({"pwd", "mkdir -p 'new dir/sub'", "cd \"new dir\"", "pwd", "size /data.bin",
                                  "mv /data.bin 'sub/moved file.bin'", "size sub/moved\\ file.bin", "cd ..",
                                  "rm 'my file.txt'", "mkdir gone", "rmdir gone"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "/\n/new dir\n5\n5\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadWholeFile(m_server->LocalPath("new dir/sub/moved file.bin")), "12345");
  EXPECT_FALSE(fs::exists(m_server->LocalPath("data.bin")));
  EXPECT_FALSE(fs::exists(m_server->LocalPath("my file.txt")));
  EXPECT_FALSE(fs::exists(m_server->LocalPath("gone")));
}

TEST_P(TolvarFtpTest, StopsAtTheFirstFailureWithItsErrorOnStderr) {
  ASSERT_TRUE(m_server->PutFile("a.txt", "a"));
  const ToolRun r = RunTool(Args({"size a.txt", "rm missing.txt", "rm a.txt"}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "1\n");  // what ran before the failure
  const std::string reply =
      GetParam() == FtpServerKind::kVsftpd ? "550 Delete operation failed." : "550 No such file or directory.";
  EXPECT_EQ(r.err, "error 16550: " + reply + "\n");
  EXPECT_EQ(ReadWholeFile(m_server->LocalPath("a.txt")), "a");  // later commands did not run
}

TEST_P(TolvarFtpTest, PasswordFromTheEnvironmentAndAWrongOne) {
  std::vector<std::string> args{"--host", m_server->Host(), "--port", std::to_string(m_server->Port()),
                                "--user", m_server->User(), "-c", "pwd"};
  ToolRun r = RunTool(args, {"TOLVARFTP_PASSWORD=" + m_server->Password()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "/\n");

  r = RunTool(args, {"TOLVARFTP_PASSWORD=not-the-password"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_THAT(r.err, StartsWith("error 16530: 530 "));
}

TEST_P(TolvarFtpTest, VerboseShowsTheConversationButNeverThePassword) {
  std::vector<std::string> args = Args({"pwd"});
  args.push_back("--verbose");
  const ToolRun r = RunTool(args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "/\n");
  EXPECT_THAT(r.err, HasSubstr("> USER " + m_server->User() + "\n"));
  EXPECT_THAT(r.err, HasSubstr("> PASS ********\n"));
  EXPECT_THAT(r.err, HasSubstr("< 257 "));
  EXPECT_THAT(r.err, Not(HasSubstr(m_server->Password())));
}

// pure-ftpd would only add its 5 s pause to the wrong password; the rest is
// the same program.
INSTANTIATE_TEST_SUITE_P(Servers, TolvarFtpTest,
                         ::testing::Values(FtpServerKind::kPyftpdlib, FtpServerKind::kVsftpd),
                         [](const auto& info) { return std::string(FtpServerKindName(info.param)); });

TEST(TolvarFtp, HelpNamesEveryOptionAndCommand) {
  const ToolRun r = RunTool({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_THAT(r.out, StartsWith("Usage: tolvarftp --host ADDRESS"));
  for (const char* word : {"--port", "--user", "--password-file", "TOLVARFTP_PASSWORD", "--timeout", "--keepalive",
                           "--lang", "--codepage", "--verbose", "-c", "pwd", "cd DIR", "mkdir [-p] DIR", "rmdir DIR",
                           "rm FILE", "mv OLD NEW", "size FILE"}) {
    EXPECT_THAT(r.out, HasSubstr(word));
  }
}

TEST(TolvarFtp, BadCommandLinesExitWith2BeforeConnecting) {
  // A command line refused after a connect would exit with 1 instead.
  const struct {
    std::vector<std::string> args;
    const char* message;
  } rows[] = {
      {{"-c", "pwd"}, "tolvarftp: --host is required (see --help)\n"},
      {{"--host", "127.0.0.1", "--frob"}, "tolvarftp: unknown option '--frob' (see --help)\n"},
      {{"--host", "127.0.0.1", "--port", "http"}, "tolvarftp: --port needs a number, not 'http'\n"},
      {{"--host", "127.0.0.1", "--lang", "fr"}, "tolvarftp: --lang takes en, zh-CN, zh-TW or ja\n"},
      {{"--host", "127.0.0.1", "-c", "rm 'my file.txt"}, "tolvarftp: unterminated ' in: rm 'my file.txt\n"},
      {{"--host", "127.0.0.1", "-c", "fetch x"}, "tolvarftp: unknown command 'fetch' (see --help)\n"},
      {{"--host", "127.0.0.1", "-c", "mv x"}, "tolvarftp: usage: mv OLD NEW\n"},
      {{"--host", "127.0.0.1", "--codepage", "latin9", "-c", "pwd"},
       "tolvarftp: unknown code page 'latin9' (UTF-8 or GBK)\n"},
      {{"--host", "127.0.0.1", "--password-file", "/nonexistent/pw", "-c", "pwd"},
       "tolvarftp: cannot read the password file /nonexistent/pw\n"},
  };
  for (const auto& row : rows) {
    const ToolRun r = RunTool(row.args);
    EXPECT_EQ(r.status, 2) << row.message;
    EXPECT_EQ(r.err, row.message);
    EXPECT_EQ(r.out, "");
  }
}

TEST(TolvarFtp, RefusedConnectionIsError10061) {
  // A port bound for a moment and released: nothing listens there.
  uint16_t port = 0;
  {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len), 0);
    port = ntohs(a.sin_port);
    close(fd);
  }
  const ToolRun r = RunTool({"--host", "127.0.0.1", "--port", std::to_string(port), "--lang", "en", "-c", "pwd"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "error 10061: Connection refused\n");
}

}  // namespace
}  // namespace pellan::test
