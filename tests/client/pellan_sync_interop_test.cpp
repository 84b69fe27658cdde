// The pellan-sync program itself, started in a scratch program folder
// against pyftpdlib, vsftpd and pure-ftpd: the companion's view of a login,
// a folder pass with its clean-up before the first batch, a failing disk,
// an unprivileged account, Chinese names in GBK; --check and --once over
// TLS; a configuration that cannot work, a service manager and a second copy. (What a crash in the
// middle of a batch leaves is the crash test's.)
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client_process.h"
#include "platform/code_page.h"
#include "support/ftp_servers.h"
#include "support/test_env.h"

namespace pellan::client {
namespace {

using pellan::test::FtpServerKind;

class PellanSyncInteropTest : public ::testing::TestWithParam<FtpServerKind> {
 protected:
  void SetUp() override {
    m_server = &pellan::test::SharedFtpServer(GetParam());
    PELLAN_START_FTP_SERVER_OR_SKIP(*m_server);
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(m_server->Root(), ec)) {
      std::filesystem::remove_all(entry.path(), ec);
    }
    ASSERT_TRUE(m_server->MakeFolder(Gbk("交换")));
    mkdir(Local("").c_str(), 0755);
    // The path file: the local folder (whose name is also the remote one),
    // the server and the account.
    const std::string site = Local("") + "\r\n127.0.0.1\r\n" + std::to_string(m_server->Port()) + "\r\n" +
                             m_server->User() + "\r\n" + m_server->Password() + "\r\n";
    ASSERT_TRUE(WriteWholeFile(Path("maoph.txt"), site));
    chmod(Path("maoph.txt").c_str(), 0600);
  }
  // The folder has a Chinese name: GBK on the server (--codepage GBK; UTF-8
  // on pyftpdlib, which reads names as UTF-8 only), UTF-8 on the disk.
  bool Utf8Server() const { return GetParam() == FtpServerKind::kPyftpdlib; }
  std::string Gbk(const std::string& text) const {
    return Utf8Server() ? text : EncodeText(text, CodePage::kGbk);
  }
  std::string Path(const std::string& name) const { return m_home.File(name); }
  std::string Read(const std::string& name) const { return ReadWholeFile(Path(name)); }
  std::string Local(const std::string& name) const { return Path("交换/" + name); }
  std::string Remote(const std::string& name) const { return m_server->LocalPath(Gbk("交换/" + name)); }
  std::unique_ptr<ChildProcess> Start(std::vector<std::string> env = {}) {
    env.insert(env.end(), {"XDG_STATE_HOME=" + m_state.Path(), "LANG=C"});
    const std::vector<std::string> args = {"pellan-sync", "log", "--home", m_home.Path(), "--headless",
                                           "--codepage", Utf8Server() ? "UTF-8" : "GBK"};
    return std::make_unique<ChildProcess>(args, env, Path("run"));
  }
  bool Wait(ChildProcess& client, const std::function<bool()>& done) {
    const bool ok = PollUntil(done, 30s);
    EXPECT_TRUE(ok) << client.Out() << client.Err();
    return ok;
  }
  // Asks the client to close as its companion does (`exit.txt`, left for
  // the companion to remove).
  void Close(ChildProcess& client) {
    ASSERT_TRUE(WriteWholeFile(Path("exit.txt"), ""));
    ASSERT_TRUE(client.WaitEnd(20s)) << client.Out();
    EXPECT_EQ(client.ExitStatus(), 0);
    EXPECT_EQ(Read("clo.txt") + std::to_string(Exists(Path("exit.txt"))), "\r\n1");
  }
  // A reply the other side's program writes aside and renames.
  void PutReply(const std::string& name, const std::string& content) {
    ASSERT_TRUE(m_server->PutFile("_reply", content));
    ASSERT_EQ(rename(m_server->LocalPath("_reply").c_str(), Remote(name).c_str()), 0);
  }

  pellan::test::RealFtpServer* m_server = nullptr;
  TempDir m_home;
  TempDir m_state;
};

// T files go up, R files come down, the rest stays (which names pass is
// the in-process folder pass tests'); the last batch's replies are cleared
// before the first upload, folders never. Chinese names are GBK on the
// server and UTF-8 on the disk.
TEST_P(PellanSyncInteropTest, APassSendsFetchesAndKeepsWhatItMust) {
  ASSERT_TRUE(WriteWholeFile(Local("T订单1.txt"), "order 1\r\nqty 10\r\n"));
  ASSERT_TRUE(WriteWholeFile(Local("Tq1.doc"), "kept: not a type we send\r\n"));
  ASSERT_TRUE(WriteWholeFile(Local("R回执1.txt"), "old reply\r\n"));
  ASSERT_TRUE(m_server->PutFile(Gbk("交换/Rdir/Rinside.txt"), "inside a folder\r\n"));
  ASSERT_TRUE(m_server->PutFile(Gbk("交换/Rold.txt"), "last batch\r\n"));

  auto client = Start();
  ASSERT_TRUE(Wait(*client, [&] { return Exists(Path("succ.txt")); }));
  // The companion is told the login succeeded, and nothing of a failure.
  EXPECT_EQ(Read("succ.txt") + std::to_string(Exists(Path("err.txt"))), "\r\n0");
  ASSERT_TRUE(Wait(*client, [&] { return !Exists(Local("T订单1.txt")); }));
  PutReply("R回执1.txt", "new reply, longer than the old one\r\n");
  ASSERT_TRUE(Wait(*client, [&] { return !Exists(Remote("R回执1.txt")); }));
  Close(*client);

  // Both sides: the upload whole under its final name, the reply replacing
  // the older copy, the folder untouched, the old reply cleared, no
  // temporary file, the rest as it was.
  EXPECT_EQ(ReadTree(Remote("")), (Tree{{"Rdir/", ""},
                                        {"Rdir/Rinside.txt", "inside a folder\r\n"},
                                        {Gbk("T订单1.txt"), "order 1\r\nqty 10\r\n"}}));
  EXPECT_EQ(ReadTree(Local("")), (Tree{{"R回执1.txt", "new reply, longer than the old one\r\n"},
                                       {"Tq1.doc", "kept: not a type we send\r\n"}}));
}

// On a failing disk (every fsync fails) a reply is not put in place, and
// its server copy stays.
TEST_P(PellanSyncInteropTest, AFailingDiskKeepsTheServerCopy) {
  ASSERT_TRUE(WriteWholeFile(Local("Tq1.txt"), "order\r\n"));  // opens the window for replies
  auto client = Start({"LD_PRELOAD=" PELLAN_FAILING_FSYNC});
  ASSERT_TRUE(Wait(*client, [&] { return !Exists(Local("Tq1.txt")); }));
  PutReply("Ra1.txt", "reply\r\n");
  ASSERT_TRUE(Wait(*client, [&] { return client->Out().find("] Ra1.txt:下载失败") != std::string::npos; }));
  Close(*client);
  EXPECT_EQ(ReadTree(Remote("")), (Tree{{"Ra1.txt", "reply\r\n"}, {"Tq1.txt", "order\r\n"}}));
  EXPECT_THAT(ReadTree(Local("")), ::testing::Not(::testing::Contains(::testing::Key("Ra1.txt"))));
}

// Run as an unprivileged account, a local folder it cannot read and a
// program folder it cannot write are said on stderr, not taken for an
// empty folder or passed over.
TEST_P(PellanSyncInteropTest, AnUnreadableFolderAndUnwritableStatusFilesAreSaid) {
  const passwd* pw = getpwnam(pellan::test::kTestFtpUser);
  if (geteuid() != 0 || pw == nullptr) GTEST_SKIP() << "needs root and the test account";
  // The account may run a copy of the program and read the path file.
  const std::string program = m_state.File("pellan-sync");
  ASSERT_TRUE(std::filesystem::copy_file(PELLAN_BINARY_DIR "/pellan-sync", program));
  ASSERT_EQ(chmod(m_home.Path().c_str(), 0755) + chmod(m_state.Path().c_str(), 0777) + chmod(Local("").c_str(), 0300) +
                chown(Path("maoph.txt").c_str(), pw->pw_uid, pw->pw_gid) +
                chown(Local("").c_str(), pw->pw_uid, pw->pw_gid), 0);
  ChildProcess client({"/usr/bin/setpriv", "--reuid=" + std::to_string(pw->pw_uid),
                       "--regid=" + std::to_string(pw->pw_gid), "--clear-groups", program, "--home", m_home.Path(),
                       "--headless"},
                      {"XDG_STATE_HOME=" + m_state.Path(), "LANG=C"}, m_state.File("run"));
  const std::string unreadable = "Local folder cannot be read: [" + Local("") + "] Permission denied\n";
  const std::string unwritten = "Status file not written: [" + Path("succ.txt") + "] Permission denied\n";
  Wait(client, [&] { return client.Err().find(unreadable) != std::string::npos; });
  client.Signal(SIGTERM);
  ASSERT_TRUE(client.WaitEnd(20s));
  EXPECT_THAT(client.Err(), AllOf(HasSubstr(unwritten), HasSubstr(unreadable)));
  EXPECT_THAT(client.Out(), HasSubstr("] " + unreadable));  // the status line too
  EXPECT_EQ(client.ExitStatus(), 0);
}

// --check tries the configuration and moves nothing; --once moves what
// waits and ends; both end with 1 when the login fails. Over TLS (vsftpd:
// TLS required, every data connection resuming the session).
TEST(PellanSyncTlsTest, CheckAndOnceOverTlsEndWithWhatTheyFound) {
  TempDir home;
  pellan::test::RealFtpServer server(FtpServerKind::kVsftpd);
  server.UseTls();
  PELLAN_START_FTP_SERVER_OR_SKIP(server);
  mkdir(home.File("data").c_str(), 0755);
  ASSERT_TRUE(WriteWholeFile(home.File("data/Tq1.txt"), "order\r\n"));
  const auto run = [&](const char* mode, const std::string& password) {
    EXPECT_TRUE(WriteWholeFile(home.File("maoph.txt"), home.File("data") + "\r\n127.0.0.1\r\n" +
                                                           std::to_string(server.Port()) + "\r\n" +
                                                           server.User() + "\r\n" + password + "\r\n"));
    chmod(home.File("maoph.txt").c_str(), 0600);
    ChildProcess client({"pellan-sync", "--home", home.Path(), mode, "--tls", "require", "--tls-ca", server.CertFile()},
                        {}, home.File(mode));
    EXPECT_TRUE(client.WaitEnd(30s));
    return std::to_string(client.ExitStatus()) + client.Out() + client.Err();
  };
  EXPECT_THAT(
      run("--check", server.Password()),
      AllOf(StartsWith("0"), HasSubstr("Login:         ok over TLSv1.3"),
            HasSubstr("Remote folder: data (created)\n"), HasSubstr("Listing:       0 entries, 0 R")));
  ASSERT_TRUE(server.PutFile("data/Ra1.txt", "reply\r\n"));
  EXPECT_THAT(run("--check", server.Password()),
              HasSubstr("Remote folder: data\nListing:       1 entry, 1 R"));
  EXPECT_THAT(run("--once", server.Password()), StartsWith("0"));
  EXPECT_EQ(ReadTree(server.LocalPath("data")), (Tree{{"Tq1.txt", "order\r\n"}}));
  EXPECT_EQ(ReadTree(home.File("data")), (Tree{{"Ra1.txt", "reply\r\n"}}));
  for (const char* mode : {"--check", "--once"}) {
    EXPECT_THAT(run(mode, "not-the-password"),
                AllOf(StartsWith("1"), HasSubstr("pellan-sync: login failed: 530")))
        << mode;
  }
}

// Without a window, a configuration that cannot work ends the client at
// once, with the file or folder named. Under a service manager: READY once
// started, each new status, the watchdog at half its interval, STOPPING at
// the end. A leftover exit.txt is said, and ends the client at once.
TEST(PellanSyncStartTest, AnUnusableConfigurationEndsWith78AndAServiceManagerHearsTheClient) {
  TempDir home;
  const std::string path = home.File("maoph.txt"), folder = home.File("data");
  mkdir(folder.c_str(), 0755);
  const struct {
    const char* text;  // nullptr: no path file
    std::string said;
  } rows[] = {
      {nullptr, "[" + path + "] cannot be read: No such file or directory"},
      {" \r\n\r\n", "[" + path + "] names no local folder"},
      {"/nowhere\r\n127.0.0.1\r\n", "local folder [/nowhere] named in [" + path + "] is not there"},
      {"DATA\r\n \r\n21\r\n", "[" + path + "] names no FTP server on line 2: 服务器地址不能为空"},
      {"DATA\r\n127.0.0.1\r\n70000\r\n", "[" + path + "] line 3: '70000' is not a port"},
  };
  for (const auto& row : rows) {
    std::string text = row.text ? row.text : "";
    if (text.rfind("DATA", 0) == 0) text.replace(0, 4, folder);
    if (row.text) { ASSERT_TRUE(WriteWholeFile(path, text)); }
    ChildProcess client({"pellan-sync", "--home", home.Path()}, {"DISPLAY=", "WAYLAND_DISPLAY="},
                        home.File("run"));
    ASSERT_TRUE(client.WaitEnd(10s));
    EXPECT_EQ(client.ExitStatus(), 78) << row.said;
    EXPECT_THAT(client.Err(), HasSubstr("pellan-sync: " + row.said));
  }

  ASSERT_TRUE(WriteWholeFile(path, folder + "\r\n127.0.0.1\r\n1\r\n"));  // nothing listens there
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un at{};
  at.sun_family = AF_UNIX;
  const std::string notify = home.File("notify");
  std::strcpy(at.sun_path, notify.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ChildProcess managed({"pellan-sync", "log", "--home", home.Path(), "--headless"},
                       {"NOTIFY_SOCKET=" + notify, "WATCHDOG_USEC=100000"}, home.File("managed"));
  std::string heard;
  const auto hear = [&](const std::string& what) {
    return PollUntil([&] {
      char buf[512];
      for (ssize_t n; (n = recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0;) heard += std::string(buf, n) + "\n";
      return heard.find(what) != std::string::npos;
    }, 10s);
  };
  EXPECT_TRUE(hear("STATUS=连接远程服务器失败; Connection refused\n")) << heard;
  // At least three more in the next 300 ms or so.
  const auto watchdogs = [&] { return std::count(heard.begin(), heard.end(), 'W'); };
  const auto before = watchdogs();
  EXPECT_TRUE(PollUntil([&] { return hear("") && watchdogs() > before + 2; }, 2s)) << heard;
  // A second copy asks the running one to come forward (taken as plnrc.run) and ends.
  ChildProcess second({"pellan-sync", "--home", home.Path(), "--headless"}, {}, home.File("second"));
  ASSERT_TRUE(second.WaitEnd(10s));
  EXPECT_THAT(std::to_string(second.ExitStatus()) + second.Err(),
              StartsWith("0pellan-sync: another copy runs in [" + home.Path() + "]"));
  EXPECT_TRUE(PollUntil([&] { return Exists(home.File("plnrc.run")); }, 10s));
  managed.Signal(SIGTERM);
  EXPECT_TRUE(hear("STOPPING=1\n") && managed.WaitEnd(10s)) << heard;
  EXPECT_THAT(heard, MatchesRegex("STATUS=未运行[^\n]*\nREADY=1\n(.|\n)*"));
  // With logging on, the failure's message box is one line on stderr; the
  // activation files go at the end.
  EXPECT_THAT(managed.Err(), HasSubstr("连接远程服务器失败 Connection refused"));
  EXPECT_FALSE(Exists(home.File("plnrc.run")));
  close(fd);

  ASSERT_TRUE(WriteWholeFile(home.File("exit.txt"), ""));
  ChildProcess client({"pellan-sync", "--home", home.Path(), "--headless"}, {}, home.File("run"));
  ASSERT_TRUE(client.WaitEnd(10s));
  EXPECT_THAT(std::to_string(client.ExitStatus()) + client.Err(),
              MatchesRegex("0pellan-sync: \\[.*exit.txt\\] is there at start(.|\n)*"));
}

INSTANTIATE_TEST_SUITE_P(Servers, PellanSyncInteropTest,
                         ::testing::ValuesIn(pellan::test::AllFtpServerKinds()),
                         [](const auto& info) { return pellan::test::FtpServerTestName(info.param); });

}  // namespace
}  // namespace pellan::client
