// The pellan-sync program itself, started in a scratch program folder
// against a real FTP server: the companion's view of a login, a failed
// login, an exit request, a second copy and a service manager's stop.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/ftp_servers.h"
#include "support/test_env.h"

extern char** environ;

namespace pellan::client {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using pellan::test::ReadWholeFile;
using pellan::test::TempDir;
using pellan::test::WriteWholeFile;

bool Exists(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0;
}

// Polls `done` every 20 ms for at most `timeout` (real time: another
// process is working).
bool PollUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// One run of the program; killed and reaped at the latest when this goes.
class ClientProcess {
 public:
  ClientProcess(const std::string& home, const std::string& stateHome, const std::string& tag) {
    m_out = home + "/" + tag + ".stdout";
    m_err = home + "/" + tag + ".stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::string program = std::string(PELLAN_BINARY_DIR) + "/pellan-sync";
    std::vector<std::string> args = {program, "log", "--home", home, "--headless"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = {"XDG_STATE_HOME=" + stateHome, "LANG=C"};
    for (char** e = environ; *e; ++e) {
      const std::string v = *e;
      if (v.rfind("XDG_STATE_HOME=", 0) != 0 && v.rfind("LANG=", 0) != 0 && v.rfind("LC_", 0) != 0) env.push_back(v);
    }
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~ClientProcess() {
    if (m_pid > 0 && !m_status) {
      kill(m_pid, SIGKILL);
      int status = 0;
      waitpid(m_pid, &status, 0);
    }
  }
  ClientProcess(const ClientProcess&) = delete;
  ClientProcess& operator=(const ClientProcess&) = delete;

  bool Started() const { return m_pid > 0; }
  void Signal(int signo) const { kill(m_pid, signo); }
  // True once the process has ended (reaped).
  bool Ended() {
    if (m_status) return true;
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) m_status = status;
    return m_status.has_value();
  }
  bool WaitEnd(std::chrono::milliseconds timeout) { return PollUntil([this] { return Ended(); }, timeout); }
  // The exit status of a process that exited normally, -1 otherwise.
  int ExitStatus() const { return m_status && WIFEXITED(*m_status) ? WEXITSTATUS(*m_status) : -1; }
  std::string Out() const { return ReadWholeFile(m_out); }
  std::string Err() const { return ReadWholeFile(m_err); }

 private:
  pid_t m_pid = -1;
  std::optional<int> m_status;
  std::string m_out, m_err;
};

class PellanSyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PELLAN_START_FTP_SERVER_OR_SKIP(m_server);
    mkdir(Path("data").c_str(), 0755);
  }
  std::string Path(const std::string& name) const { return m_home.File(name); }
  std::string Read(const std::string& name) const { return ReadWholeFile(Path(name)); }
  void WriteSite(const std::string& password) {
    const std::string text = Path("data") + "\r\n127.0.0.1\r\n" + std::to_string(m_server.Port()) + "\r\n" +
                             m_server.User() + "\r\n" + password + "\r\n";
    ASSERT_TRUE(WriteWholeFile(Path("maoph.txt"), text));
    chmod(Path("maoph.txt").c_str(), 0600);
  }
  std::unique_ptr<ClientProcess> Start(const std::string& tag = "first") {
    auto p = std::make_unique<ClientProcess>(m_home.Path(), m_state.Path(), tag);
    EXPECT_TRUE(p->Started());
    return p;
  }
  // Waits for the login's outcome file.
  bool LoggedIn() const { return PollUntil([this] { return Exists(Path("succ.txt")); }, 20s); }

  pellan::test::PyftpdlibServer m_server;
  TempDir m_home;
  TempDir m_state;
};

TEST_F(PellanSyncTest, LoginWritesSuccThenExitFileEndsTheClientPromptly) {
  WriteSite(m_server.Password());
  auto client = Start();
  ASSERT_TRUE(LoggedIn()) << client->Out() << client->Err();
  EXPECT_EQ(Read("succ.txt"), "\r\n");
  EXPECT_FALSE(Exists(Path("err.txt")));
  ASSERT_TRUE(PollUntil([&] { return client->Out().find("] 连接成功,正在运行...\n") != std::string::npos; }, 5s))
      << client->Out();
  EXPECT_THAT(client->Out(), MatchesRegex("\\[[-0-9: ]+\\] 未运行\\.\\.\\.[0-9.]+\n(.|\n)*"));

  ASSERT_TRUE(WriteWholeFile(Path("exit.txt"), ""));
  ASSERT_TRUE(client->WaitEnd(10s));
  EXPECT_EQ(client->ExitStatus(), 0);
  EXPECT_EQ(Read("clo.txt"), "\r\n");
  EXPECT_TRUE(Exists(Path("exit.txt")));  // the companion's to remove
  EXPECT_THAT(Read("plnrc.log"), HasSubstr("------------------------Start------------------------"));
}

TEST_F(PellanSyncTest, AWrongPasswordLeavesTheServersReasonAndSigtermEndsTheClient) {
  WriteSite("not-the-password");
  auto client = Start();
  ASSERT_TRUE(PollUntil([&] { return Exists(Path("err.txt")); }, 30s)) << client->Out() << client->Err();
  ASSERT_TRUE(PollUntil([&] { return !Read("err.txt").empty(); }, 2s));
  EXPECT_THAT(Read("err.txt"), MatchesRegex("530 [^\r\n]+\r\n"));
  EXPECT_FALSE(Exists(Path("succ.txt")));
  EXPECT_FALSE(client->Ended());  // waits for a retry or an exit
  // With logging on, the failure's message box is one line on stderr.
  EXPECT_THAT(client->Err(), HasSubstr("连接远程服务器失败 530 "));

  client->Signal(SIGTERM);
  ASSERT_TRUE(client->WaitEnd(10s));
  EXPECT_EQ(client->ExitStatus(), 0);
  EXPECT_EQ(Read("clo.txt"), "\r\n");
  EXPECT_FALSE(Exists(Path("exit.txt")));
}

TEST_F(PellanSyncTest, ASecondCopyAsksTheFirstToComeForwardAndEnds) {
  WriteSite(m_server.Password());
  auto first = Start();
  ASSERT_TRUE(LoggedIn()) << first->Out() << first->Err();

  auto second = Start("second");
  ASSERT_TRUE(second->WaitEnd(10s));
  EXPECT_EQ(second->ExitStatus(), 0);
  EXPECT_EQ(second->Out(), "");
  // The first copy takes the request and keeps its login result.
  ASSERT_TRUE(PollUntil([&] { return Exists(Path("plnrc.run")) && !Exists(Path("plnrc.cal")); }, 5s));
  EXPECT_EQ(Read("plnrc.run"), " \r\n");
  EXPECT_EQ(Read("succ.txt"), "\r\n");
  EXPECT_FALSE(first->Ended());

  first->Signal(SIGTERM);
  ASSERT_TRUE(first->WaitEnd(10s));
  EXPECT_EQ(first->ExitStatus(), 0);
  EXPECT_EQ(Read("clo.txt"), "\r\n");
  EXPECT_FALSE(Exists(Path("plnrc.run")));  // removed at exit
}

TEST_F(PellanSyncTest, SigtermWhileRunningClosesTheSessionAndLeavesClo) {
  WriteSite(m_server.Password());
  auto client = Start();
  ASSERT_TRUE(LoggedIn()) << client->Out() << client->Err();
  client->Signal(SIGTERM);
  ASSERT_TRUE(client->WaitEnd(10s));
  EXPECT_EQ(client->ExitStatus(), 0);
  EXPECT_EQ(Read("clo.txt"), "\r\n");
  EXPECT_EQ(Read("succ.txt"), "\r\n");
  EXPECT_FALSE(Exists(Path("exit.txt")));
}

}  // namespace
}  // namespace pellan::client
