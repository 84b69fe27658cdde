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

#include "client_process.h"
#include "support/ftp_servers.h"
#include "support/test_env.h"

namespace pellan::client {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using pellan::test::ReadWholeFile;
using pellan::test::TempDir;
using pellan::test::WriteWholeFile;

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
