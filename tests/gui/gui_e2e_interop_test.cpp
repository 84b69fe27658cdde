// pellan-sync with its window, on the X display that the test runs under
// (scripts/with-xvfb.sh gives it one; there is no window manager and no tray host),
// against a real FTP server: the window and tray as the program's own trace
// tells them.
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client/client_process.h"
#include "support/ftp_servers.h"
#include "support/test_env.h"

namespace pellan::client {
namespace {

// The last line of the trace that begins with `prefix`.
std::string LastLine(const std::string& trace, const std::string& prefix) {
  const auto at = trace.rfind("\n" + prefix);
  if (at == std::string::npos) return "";
  return trace.substr(at + 1, trace.find('\n', at + 1) - at - 1);
}

TEST(DesktopClient, ShowsItsVersionLogsInHidesComesForwardOnRequestAndEndsOnExit) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display: run under scripts/with-xvfb.sh";
  pellan::test::RealFtpServer server(pellan::test::FtpServerKind::kPyftpdlib);
  PELLAN_START_FTP_SERVER_OR_SKIP(server);
  TempDir home, state;
  mkdir(home.File("data").c_str(), 0755);
  ASSERT_TRUE(WriteWholeFile(home.File("maoph.txt"), home.File("data") + "\r\n127.0.0.1\r\n" +
                                                         std::to_string(server.Port()) + "\r\n" + server.User() +
                                                         "\r\n" + server.Password() + "\r\n"));
  chmod(home.File("maoph.txt").c_str(), 0600);
  const std::string traceDir = home.File("trace");
  ChildProcess client({"pellan-sync", "log", "--home", home.Path()},
                      {"XDG_STATE_HOME=" + state.Path(), "LANG=C", "PELLAN_WINDOW_TRACE=" + traceDir}, home.File("desktop"));
  auto trace = [&] { return ReadWholeFile(traceDir + "/trace.txt"); };

  // Shown at start with the version, then the login, then hidden.
  ASSERT_TRUE(PollUntil([&] { return Exists(home.File("succ.txt")); }, 20s)) << trace() << client.Err();
  ASSERT_TRUE(PollUntil([&] { return LastLine(trace(), "window ").rfind("window shown=0", 0) == 0; }, 10s)) << trace();
  const std::string t = trace();
  EXPECT_THAT(t, AllOf(ContainsRegex("lblState \\[[-0-9: ]+\\] 未运行\\.\\.\\.[0-9.]+\n"),
                      HasSubstr("caption [客户端]Pellan远程连接 V"),
                      HasSubstr("tray icon=1 available=0 tip=[客户端]Pellan远程连接\n"), HasSubstr("lblCurState 正在登录\n")));
  EXPECT_THAT(t, ContainsRegex("window shown=1 minimised=0 ontop=0 front=0\n(.|\n)*lblState \\[[-0-9: ]+\\] 连接成功"));

  // The companion asks for the window: restored, on top, brought forward.
  ASSERT_TRUE(WriteWholeFile(home.File("plnrc.cal"), " \r\n"));
  ASSERT_TRUE(PollUntil([&] { return LastLine(trace(), "window ") == "window shown=1 minimised=0 ontop=1 front=1"; }, 10s))
      << trace();
  EXPECT_TRUE(Exists(home.File("plnrc.run")));

  ASSERT_TRUE(WriteWholeFile(home.File("exit.txt"), ""));
  ASSERT_TRUE(client.WaitEnd(15s)) << trace();
  EXPECT_EQ(client.ExitStatus(), 0) << client.Err();
  EXPECT_EQ(LastLine(trace(), "tray "), "tray icon=0 available=0 tip=[客户端]Pellan远程连接");
  EXPECT_EQ(ReadWholeFile(home.File("clo.txt")), "\r\n");
}

}  // namespace
}  // namespace pellan::client
