// tolvarftp end to end, the built program against vsftpd: what only the
// program does. Results go to stdout one line each, a line per finished
// file and the progress line to stderr, the failing command's error to
// stderr with exit status 1; every option reaches the engine. (What the
// engine does with them is the engine interop table's.)
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "client/client_process.h"
#include "support/ftp_servers.h"
#include "support/scratch_state_home.h"  // the program's engine log goes there too
#include "support/test_env.h"

namespace pellan::test {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::EndsWith;
using ::testing::Not;
using ::testing::StartsWith;
using pellan::client::RunTool;
using pellan::client::ToolRun;

class TolvarFtpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    s_server = &SharedFtpServer(FtpServerKind::kVsftpd);
    PELLAN_START_FTP_SERVER_OR_SKIP(*s_server);
  }
  // tolvarftp logged in with the password from the environment.
  ToolRun Run(std::vector<std::string> args, bool terminal = false, const std::string& password = kTestFtpPassword) {
    args.insert(args.begin(),
                {"--host", "127.0.0.1", "--port", std::to_string(s_server->Port()), "--user", kTestFtpUser});
    return RunTool(args, {"TOLVARFTP_PASSWORD=" + password}, terminal);
  }
  std::string Disk(const std::string& path) const { return ReadWholeFile(s_server->LocalPath(path)); }

  RealFtpServer* s_server = nullptr;
  TempDir m_local;
};

TEST_F(TolvarFtpTest, CommandsPrintOneLinePerResultAndStopAtTheFirstFailure) {
  ASSERT_TRUE(s_server->PutFile("my file.txt", "bye"));
  ASSERT_TRUE(s_server->PutFile("data.bin", "12345"));
  const std::string passwordFile = m_local.File("password");
  ASSERT_TRUE(WriteWholeFile(passwordFile, std::string(kTestFtpPassword) + "\n"));
  ToolRun r = Run({"--password-file", passwordFile, "-c", "pwd", "-c", "mkdir -p 'new dir/sub'", "-c", "cd \"new dir\"",
                   "-c", "pwd", "-c", "size /data.bin", "-c", "mv /data.bin 'sub/moved file.bin'", "-c",
                   "size sub/moved\\ file.bin", "-c", "cd ..", "-c", "rm 'my file.txt'", "-c", "mkdir gone", "-c",
                   "rmdir gone"},
                  false, "not-the-password");
  EXPECT_EQ(std::to_string(r.status) + r.out + r.err, "0/\n/new dir\n5\n5\n");
  EXPECT_EQ(Disk("new dir/sub/moved file.bin"), "12345");
  EXPECT_FALSE(fs::exists(s_server->LocalPath("my file.txt")) || fs::exists(s_server->LocalPath("gone")));

  // A listing line per entry (a JSON array with --json); "no" only for a folder that is not there.
  ASSERT_TRUE(s_server->PutFile("new dir/sub/q\"uote", ""));
  r = Run({"-c", "ls 'new dir/sub'", "-c", "exists-dir 'new dir'", "-c", "exists-dir nope"});
  EXPECT_THAT(std::to_string(r.status) + r.out + r.err,
              ContainsRegex("^0-rw-r--r-- 5 20[0-9-]+ [0-9:]+ moved file.bin\n"
                            "-rw-r--r-- 0 .* q\"uote\nyes\nno\n$"));
  r = Run({"--json", "-c", "ls 'new dir/sub'"});
  EXPECT_THAT(r.out, AllOf(StartsWith("[\n  {\"name\": \"moved file.bin\", \"isDirectory\": false, "
                                      "\"size\": 5, "),
                           HasSubstr("{\"name\": \"q\\\"uote\""), EndsWith("}\n]\n")));

  ASSERT_TRUE(s_server->PutFile("a.txt", "a"));
  r = Run({"-c", "size a.txt", "-c", "rm missing.txt", "-c", "rm a.txt"});
  // What ran before the failure, and its error.
  EXPECT_EQ(std::to_string(r.status) + r.out + r.err, "11\nerror 16550: 550 Delete operation failed.\n");
  EXPECT_EQ(Disk("a.txt"), "a");  // later commands did not run

  r = Run({"--verbose", "-c", "pwd"});
  EXPECT_EQ(std::to_string(r.status) + r.out, "0/\n") << r.err;
  EXPECT_THAT(r.err, AllOf(HasSubstr(std::string("> USER ") + kTestFtpUser + "\n"), HasSubstr("> PASS ********\n"),
                           HasSubstr("< 257 "), Not(HasSubstr(kTestFtpPassword))));
}

TEST_F(TolvarFtpTest, TransfersGiveALinePerFileAndAProgressLineOnATerminalAndTheirOptionsReachTheEngine) {
  const std::string tree = m_local.File("tree"), big(3'000'000, 'p');
  fs::create_directories(tree + "/sub/deeper");
  ASSERT_TRUE(WriteWholeFile(tree + "/a.txt", "alpha\n"));
  ASSERT_TRUE(WriteWholeFile(tree + "/b.bin", big));
  ASSERT_TRUE(WriteWholeFile(tree + "/sub/c.txt", ""));
  ASSERT_TRUE(WriteWholeFile(tree + "/sub/deeper/d.bin", "delta"));
  ToolRun r = Run({"-c", "put " + tree + "/ /store/"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Off a terminal no progress is drawn; a folder's subfolders go first.
  EXPECT_EQ(r.err, "put " + tree + "/sub/deeper/d.bin -> /store/sub/deeper/d.bin, 5 bytes (1/1)\n" +
                       "put " + tree + "/sub/c.txt -> /store/sub/c.txt, 0 bytes (1/1)\n" +
                       "put " + tree + "/a.txt -> /store/a.txt, 6 bytes (1/2)\n" +
                       "put " + tree + "/b.bin -> /store/b.bin, 3000000 bytes (2/2)\n");

  const std::string back = m_local.File("back.bin");
  r = Run({"-c", "get /store/b.bin " + back}, true);
  ASSERT_EQ(r.status, 0) << r.err;
  // The line is redrawn in place, then gives way to the finished line.
  EXPECT_THAT(r.err, AllOf(HasSubstr("\rb.bin ["), HasSubstr("%  1/1"),
                           HasSubstr("\rgot /store/b.bin -> " + back + ", 3000000 bytes (1/1)")));

  ASSERT_TRUE(WriteWholeFile(m_local.File("one"), "first\n"));
  ASSERT_TRUE(WriteWholeFile(m_local.File("订单.txt"), "second\n"));
  // --active, --ascii, --codepage: PORT, TYPE A, and a GBK name on the server.
  r = Run({"--active", "--ascii", "--verbose", "--codepage", "GBK", "-c",
           "put " + m_local.File("one") + "|" + m_local.File("订单.txt") + " /x/1.dat|/订单.txt"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.err, AllOf(HasSubstr("> PORT "), Not(HasSubstr("> PASV")), HasSubstr("> TYPE A"),
                           Not(HasSubstr("> TYPE I"))));
  EXPECT_EQ(Disk("x/1.dat") + Disk(EncodeText("订单.txt", CodePage::kGbk)), "first\nsecond\n");
  r = Run({"--codepage", "GBK", "-c", "get /订单.txt|/x/1.dat " + m_local.File("b") + "|" + m_local.File("a")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "got /订单.txt -> " + m_local.File("b") + ", 7 bytes (1/2)\ngot /x/1.dat -> " + m_local.File("a") +
                       ", 6 bytes (2/2)\n");

  // --max-size, --forbid, --allow refuse with their errors.
  ASSERT_TRUE(WriteWholeFile(m_local.File("big.dat"), std::string(1'600'000, 'x')));
  for (const auto& [option, value, error] :
       {std::tuple{"--max-size", "1.5", "1error 20003: Can't transfer files bigger than 1.5M"},
        std::tuple{"--forbid", "dat", "1error 20022: "},
        std::tuple{"--allow", "xls,txt", "1error 20021: "}}) {
    r = Run({option, value, "-c", "put " + m_local.File("big.dat") + " /limited/big.dat"});
    EXPECT_THAT(std::to_string(r.status) + r.err, StartsWith(error)) << option;
  }
  EXPECT_FALSE(fs::exists(s_server->LocalPath("limited/big.dat")));

  // --overwrite replaces a longer local file, which is otherwise kept;
  // --temp-name stores as _NAME.part, then renames over the older copy.
  ASSERT_TRUE(WriteWholeFile(m_local.File("a"), "a longer local file\n"));
  r = Run({"-c", "get /x/1.dat " + m_local.File("a")});
  EXPECT_THAT(std::to_string(r.status) + r.err, StartsWith("1error 20034: "));
  r = Run({"--overwrite", "--temp-name", "--verbose", "-c", "get /x/1.dat " + m_local.File("a"), "-c",
           "put " + m_local.File("订单.txt") + " /x/1.dat"});
  EXPECT_THAT(std::to_string(r.status) + r.err + ReadWholeFile(m_local.File("a")) + Disk("x/1.dat"),
              AllOf(StartsWith("0"), HasSubstr("> RNTO /x/1.dat"), Not(HasSubstr(".part,")),
                    EndsWith(" -> /x/1.dat, 7 bytes (1/1)\n> QUIT \nfirst\nsecond\n")));

  // A failed file gives its error line, and is tried again with --retries.
  ASSERT_TRUE(s_server->PutFile("here.txt", "here"));
  r = Run({"-c", "get /here.txt|/missing.txt " + m_local.File("here.txt") + "|" + m_local.File("m.txt")});
  const std::string got = "1got /here.txt -> " + m_local.File("here.txt") + ", 4 bytes (1/2)\n";
  EXPECT_THAT(std::to_string(r.status) + r.err, StartsWith(got + "error 16550: 550 "));
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
  EXPECT_FALSE(fs::exists(m_local.File("m.txt")));

  // The engine waits its fixed 10 seconds before the second attempt.
  r = Run({"--retries", "1", "--verbose", "-c", "get /missing.txt " + m_local.File("m.txt")});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, AllOf(ContainsRegex("> RETR /missing.txt\n(.|\n)*> RETR /missing.txt\n"),
                           Not(ContainsRegex("(> RETR /missing.txt\n(.|\n)*){3}")), HasSubstr("> TYPE I\n"),
                           Not(HasSubstr("> PORT "))))
      << r.err;  // binary and passive unless asked
}

TEST(TolvarFtp, HelpBadCommandLinesAndARefusedConnection) {
  ToolRun r = RunTool({"--help"});
  EXPECT_THAT(std::to_string(r.status) + r.err + r.out, StartsWith("0Usage: tolvarftp --host ADDRESS"));
  // Refused before connecting: exit status 2 (after a connect it would be 1).
  for (const auto& [option, value, message] :
       {std::tuple{"--codepage", "latin9", "unknown code page 'latin9' (UTF-8 or GBK)"},
        std::tuple{"--password-file", "/nonexistent/pw", "cannot read the password file /nonexistent/pw"}}) {
    r = RunTool({"--host", "127.0.0.1", option, value, "-c", "pwd"});
    EXPECT_EQ(std::to_string(r.status) + r.out + r.err, std::string("2tolvarftp: ") + message + "\n");
  }
  // Nothing listens there.
  r = RunTool({"--host", "127.0.0.1", "--port", std::to_string(FreeLoopbackPort()), "--lang", "en", "-c", "pwd"});
  EXPECT_EQ(std::to_string(r.status) + r.out + r.err, "1error 10061: Connection refused\n");
}

}  // namespace
}  // namespace pellan::test
