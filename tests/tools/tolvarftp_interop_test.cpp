// tolvarftp end to end: the built program against real servers, run as a
// child process with its output captured and every wait bounded. Results go
// to stdout one line each; the failing command's error to stderr.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/ftp_servers.h"
#include "support/scratch_state_home.h"
#include "support/test_env.h"

extern char** environ;

namespace pellan::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

struct Outcome {
  int exitCode = -1;  // -1: killed after the time limit, or not started
  std::string out, err;
};

// Runs the program with `args` and `extraEnv` ("NAME=value") added to this
// process's environment; kills it after `limit`.
Outcome RunTool(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {},
                std::chrono::seconds limit = std::chrono::seconds(60)) {
  Outcome result;
  const std::string program = PELLAN_BINARY_DIR "/tolvarftp";
  std::vector<std::string> argStore{program};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e) {
    if (std::string(*e).rfind("TOLVARFTP_PASSWORD=", 0) != 0) envStore.emplace_back(*e);
  }
  envStore.insert(envStore.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> envp;
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);

  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) return result;
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  if (spawned != 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    result.err = "cannot start " + program;
    return result;
  }

  const auto deadline = std::chrono::steady_clock::now() + limit;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  bool killed = false;
  while (open > 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      killed = true;
      break;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[4096];
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& f : fds) {
    if (f.fd >= 0) close(f.fd);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) == pid && !killed && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

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
  const Outcome r = RunTool(Args({"pwd", "mkdir -p 'new dir/sub'", "cd \"new dir\"", "pwd", "size /data.bin",
                                  "mv /data.bin 'sub/moved file.bin'", "size sub/moved\\ file.bin", "cd ..",
                                  "rm 'my file.txt'", "mkdir gone", "rmdir gone"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "/\n/new dir\n5\n5\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadWholeFile(m_server->LocalPath("new dir/sub/moved file.bin")), "12345");
  EXPECT_FALSE(fs::exists(m_server->LocalPath("data.bin")));
  EXPECT_FALSE(fs::exists(m_server->LocalPath("my file.txt")));
  EXPECT_FALSE(fs::exists(m_server->LocalPath("gone")));
}

TEST_P(TolvarFtpTest, StopsAtTheFirstFailureWithItsErrorOnStderr) {
  ASSERT_TRUE(m_server->PutFile("a.txt", "a"));
  const Outcome r = RunTool(Args({"size a.txt", "rm missing.txt", "rm a.txt"}));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "1\n");  // what ran before the failure
  const std::string reply =
      GetParam() == FtpServerKind::kVsftpd ? "550 Delete operation failed." : "550 No such file or directory.";
  EXPECT_EQ(r.err, "error 16550: " + reply + "\n");
  EXPECT_EQ(ReadWholeFile(m_server->LocalPath("a.txt")), "a");  // later commands did not run
}

TEST_P(TolvarFtpTest, PasswordFromTheEnvironmentAndAWrongOne) {
  std::vector<std::string> args{"--host", m_server->Host(), "--port", std::to_string(m_server->Port()),
                                "--user", m_server->User(), "-c", "pwd"};
  Outcome r = RunTool(args, {"TOLVARFTP_PASSWORD=" + m_server->Password()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "/\n");

  r = RunTool(args, {"TOLVARFTP_PASSWORD=not-the-password"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_THAT(r.err, StartsWith("error 16530: 530 "));
}

TEST_P(TolvarFtpTest, VerboseShowsTheConversationButNeverThePassword) {
  std::vector<std::string> args = Args({"pwd"});
  args.push_back("--verbose");
  const Outcome r = RunTool(args);
  EXPECT_EQ(r.exitCode, 0) << r.err;
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
  const Outcome r = RunTool({"--help"});
  EXPECT_EQ(r.exitCode, 0);
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
    const Outcome r = RunTool(row.args);
    EXPECT_EQ(r.exitCode, 2) << row.message;
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
  const Outcome r = RunTool({"--host", "127.0.0.1", "--port", std::to_string(port), "--lang", "en", "-c", "pwd"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "error 10061: Connection refused\n");
}

}  // namespace
}  // namespace pellan::test
