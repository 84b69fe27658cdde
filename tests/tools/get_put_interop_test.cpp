// tolvarftp get and put, the built program against real servers: folder
// trees and "|" lists both ways, the transfer options, the line per finished
// file, the progress line on a terminal, and the failing file's error line.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "run_tool.h"
#include "support/ftp_servers.h"
#include "support/scratch_state_home.h"  // the program's engine log goes there too
#include "support/test_env.h"

namespace pellan::test {
namespace {

// tolvarftp logged in to `server` with `args`.
ToolRun RunAt(const RealFtpServer& server, std::vector<std::string> args, bool terminal = false) {
  args.insert(args.begin(), {"--host", "127.0.0.1", "--port", std::to_string(server.Port()), "--user", server.User()});
  return RunTool(args, {std::string("TOLVARFTP_PASSWORD=") + kTestFtpPassword}, terminal);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string Pattern(size_t size, char seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(seed + i * 7 % 251);
  return s;
}

TEST(GetPutInteropTest, PutsAFolderTreeAndGetsItBackByteForByte) {
  VsftpdServer server;
  PELLAN_START_FTP_SERVER_OR_SKIP(server);
  TempDir local;
  const std::string tree = local.File("tree");
  std::filesystem::create_directories(tree + "/sub/deeper");
  ASSERT_TRUE(WriteWholeFile(tree + "/a.txt", "alpha\n"));
  ASSERT_TRUE(WriteWholeFile(tree + "/b.bin", Pattern(300'000, 'b')));
  ASSERT_TRUE(WriteWholeFile(tree + "/sub/c.txt", ""));
  ASSERT_TRUE(WriteWholeFile(tree + "/sub/deeper/d.bin", Pattern(70'000, 'd')));

  const ToolRun up = RunAt(server, {"-c", "put " + tree + "/ /store/"});
  ASSERT_EQ(up.status, 0) << up.err;
  EXPECT_EQ(ReadWholeFile(server.LocalPath("store/b.bin")), Pattern(300'000, 'b'));
  EXPECT_EQ(ReadWholeFile(server.LocalPath("store/sub/deeper/d.bin")), Pattern(70'000, 'd'));
  EXPECT_TRUE(std::filesystem::is_regular_file(server.LocalPath("store/sub/c.txt")));
  // One line per file, and nothing else: no progress drawing off a terminal.
  // (A folder's subfolders go before its own files.)
  EXPECT_EQ(up.err.find('\r'), std::string::npos);
  EXPECT_EQ(Lines(up.err), (std::vector<std::string>{
                               "put " + tree + "/sub/deeper/d.bin -> /store/sub/deeper/d.bin, 70000 bytes (1/1)",
                               "put " + tree + "/sub/c.txt -> /store/sub/c.txt, 0 bytes (1/1)",
                               "put " + tree + "/a.txt -> /store/a.txt, 6 bytes (1/2)",
                               "put " + tree + "/b.bin -> /store/b.bin, 300000 bytes (2/2)",
                           }));

  const std::string back = local.File("back");
  const ToolRun down = RunAt(server, {"-c", "get /store/ " + back + "/"});
  ASSERT_EQ(down.status, 0) << down.err;
  EXPECT_EQ(ReadWholeFile(back + "/a.txt"), "alpha\n");
  EXPECT_EQ(ReadWholeFile(back + "/b.bin"), Pattern(300'000, 'b'));
  EXPECT_EQ(ReadWholeFile(back + "/sub/deeper/d.bin"), Pattern(70'000, 'd'));
  EXPECT_TRUE(std::filesystem::is_regular_file(back + "/sub/c.txt"));
  EXPECT_EQ(Lines(down.err).size(), 4u) << down.err;
  EXPECT_NE(down.err.find("got /store/sub/deeper/d.bin -> " + back + "/sub/deeper/d.bin, 70000 bytes (1/1)\n"),
            std::string::npos)
      << down.err;
}

// GBK is the code page of names on the server only: local paths stay the
// UTF-8 they were typed in.
TEST(GetPutInteropTest, GbkNamesOnTheServerAndUtf8OnTheDisk) {
  VsftpdServer server;
  PELLAN_START_FTP_SERVER_OR_SKIP(server);
  TempDir local;
  ASSERT_TRUE(WriteWholeFile(local.File("订单.txt"), "up"));
  const ToolRun run = RunAt(server, {"--codepage", "GBK", "-c", "put " + local.File("订单.txt") + " /订单.txt", "-c",
                                     "get /订单.txt " + local.File("回单.txt")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadWholeFile(server.LocalPath(EncodeText("订单.txt", CodePage::kGbk))), "up");
  EXPECT_EQ(ReadWholeFile(local.File("回单.txt")), "up");
}

TEST(GetPutInteropTest, ListsPairItemByItemInActiveModeToo) {
  PureFtpdServer server;
  PELLAN_START_FTP_SERVER_OR_SKIP(server);
  TempDir local;
  ASSERT_TRUE(WriteWholeFile(local.File("one"), "first"));
  ASSERT_TRUE(WriteWholeFile(local.File("two"), "second"));

  const ToolRun up = RunAt(
      server, {"--active", "--verbose", "-c", "put " + local.File("one") + "|" + local.File("two") + " /x/1.dat|/y/2.dat"});
  ASSERT_EQ(up.status, 0) << up.err;
  EXPECT_NE(up.err.find("> PORT "), std::string::npos);
  EXPECT_EQ(up.err.find("> PASV"), std::string::npos);
  EXPECT_EQ(ReadWholeFile(server.LocalPath("x/1.dat")), "first");
  EXPECT_EQ(ReadWholeFile(server.LocalPath("y/2.dat")), "second");

  const ToolRun down =
      RunAt(server, {"--active", "-c", "get /y/2.dat|/x/1.dat " + local.File("b") + "|" + local.File("a")});
  ASSERT_EQ(down.status, 0) << down.err;
  EXPECT_EQ(ReadWholeFile(local.File("a")), "first");
  EXPECT_EQ(ReadWholeFile(local.File("b")), "second");
  EXPECT_EQ(down.err, "got /y/2.dat -> " + local.File("b") + ", 6 bytes (1/2)\ngot /x/1.dat -> " + local.File("a") +
                          ", 5 bytes (2/2)\n");
}

TEST(GetPutInteropTest, ResumesAShorterLocalFileAndReplacesItOnlyWithOverwrite) {
  VsftpdServer server;
  PELLAN_START_FTP_SERVER_OR_SKIP(server);
  const std::string content = Pattern(200'000, 'r');
  ASSERT_TRUE(server.PutFile("r.bin", content));
  TempDir local;

  // A local start of the file: the rest is fetched from where it ends.
  ASSERT_TRUE(WriteWholeFile(local.File("r.bin"), content.substr(0, 50'000)));
  ToolRun r = RunAt(server, {"--verbose", "-c", "get /r.bin " + local.File("r.bin")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("> REST 50000"), std::string::npos);
  EXPECT_EQ(ReadWholeFile(local.File("r.bin")), content);

  // A longer local file is left alone without --overwrite ...
  ASSERT_TRUE(WriteWholeFile(local.File("r.bin"), content + "tail"));
  r = RunAt(server, {"-c", "get /r.bin " + local.File("r.bin")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("error 20034: ", 0), 0u) << r.err;
  EXPECT_EQ(ReadWholeFile(local.File("r.bin")), content + "tail");
  // ... and replaced with it.
  r = RunAt(server, {"--overwrite", "-c", "get /r.bin " + local.File("r.bin")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadWholeFile(local.File("r.bin")), content);
}

TEST(GetPutInteropTest, SizeAndTypeLimitsRefuseTheFileWithTheirErrors) {
  VsftpdServer server;
  PELLAN_START_FTP_SERVER_OR_SKIP(server);
  TempDir local;
  ASSERT_TRUE(WriteWholeFile(local.File("big.dat"), std::string(1'600'000, 'x')));
  ASSERT_TRUE(WriteWholeFile(local.File("note.txt"), "note"));

  ToolRun r = RunAt(server, {"--max-size", "1.5", "-c", "put " + local.File("big.dat") + " /big.dat"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("error 20003: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("1.5M"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(server.LocalPath("big.dat")));
  r = RunAt(server, {"--max-size", "2", "-c", "put " + local.File("big.dat") + " /big.dat"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(std::filesystem::file_size(server.LocalPath("big.dat")), 1'600'000u);

  r = RunAt(server, {"--forbid", "txt", "-c", "put " + local.File("note.txt") + " /note.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("error 20022: ", 0), 0u) << r.err;
  r = RunAt(server, {"--allow", "xls,dat", "-c", "put " + local.File("note.txt") + " /note.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("error 20021: ", 0), 0u) << r.err;
  EXPECT_FALSE(std::filesystem::exists(server.LocalPath("note.txt")));
  r = RunAt(server, {"--allow", "*.xls; *.txt", "-c", "put " + local.File("note.txt") + " /note.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadWholeFile(server.LocalPath("note.txt")), "note");

  // Downloads obey the same limits.
  r = RunAt(server, {"--max-size", "1", "-c", "get /big.dat " + local.File("copy.dat")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("error 20003: ", 0), 0u) << r.err;
  EXPECT_FALSE(std::filesystem::exists(local.File("copy.dat")));
}

TEST(GetPutInteropTest, AsciiAsksForTypeA) {
  VsftpdServer server;
  PELLAN_START_FTP_SERVER_OR_SKIP(server);
  TempDir local;
  ASSERT_TRUE(WriteWholeFile(local.File("lines.txt"), "one\ntwo\n"));
  ToolRun r = RunAt(server, {"--ascii", "--verbose", "-c", "put " + local.File("lines.txt") + " /lines.txt"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("> TYPE A"), std::string::npos);
  EXPECT_EQ(r.err.find("> TYPE I"), std::string::npos);
  r = RunAt(server, {"--verbose", "-c", "get /lines.txt " + local.File("back.txt")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("> TYPE I"), std::string::npos);
  EXPECT_EQ(ReadWholeFile(local.File("back.txt")), "one\ntwo\n");
}

TEST(GetPutInteropTest, AFailedFileGivesTheErrorLineAndNoFinishedLine) {
  VsftpdServer server;
  PELLAN_START_FTP_SERVER_OR_SKIP(server);
  ASSERT_TRUE(server.PutFile("here.txt", "here"));
  TempDir local;
  const ToolRun r =
      RunAt(server, {"-c", "get /here.txt|/missing.txt " + local.File("here.txt") + "|" + local.File("m.txt")});
  EXPECT_EQ(r.status, 1);
  const std::vector<std::string> lines = Lines(r.err);
  ASSERT_EQ(lines.size(), 2u) << r.err;
  EXPECT_EQ(lines[0], "got /here.txt -> " + local.File("here.txt") + ", 4 bytes (1/2)");
  EXPECT_EQ(lines[1].rfind("error 16550: ", 0), 0u) << lines[1];
  EXPECT_EQ(ReadWholeFile(local.File("here.txt")), "here");
  EXPECT_FALSE(std::filesystem::exists(local.File("m.txt")));  // a refused download creates nothing
}

TEST(GetPutInteropTest, RetriesTryTheFailedFileAgain) {
  VsftpdServer server;
  PELLAN_START_FTP_SERVER_OR_SKIP(server);
  TempDir local;
  // The engine waits its fixed 10 seconds before the second attempt.
  const ToolRun r = RunAt(server, {"--retries", "1", "--verbose", "-c", "get /missing.txt " + local.File("m")});
  EXPECT_EQ(r.status, 1);
  size_t retrs = 0;
  for (size_t at = r.err.find("> RETR /missing.txt"); at != std::string::npos;
       at = r.err.find("> RETR /missing.txt", at + 1)) {
    ++retrs;
  }
  EXPECT_EQ(retrs, 2u) << r.err;
}

TEST(GetPutInteropTest, DrawsAProgressLineOnATerminal) {
  VsftpdServer server;
  PELLAN_START_FTP_SERVER_OR_SKIP(server);
  ASSERT_TRUE(server.PutFile("in/progress.bin", Pattern(3'000'000, 'p')));
  TempDir local;
  const ToolRun r = RunAt(server, {"-c", "get /in/progress.bin " + local.File("p.bin")}, true);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadWholeFile(local.File("p.bin")), Pattern(3'000'000, 'p'));
  // The line is redrawn in place, then gives way to the finished line.
  EXPECT_NE(r.err.find("\rprogress.bin ["), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("%  1/1"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\rgot /in/progress.bin -> " + local.File("p.bin") + ", 3000000 bytes (1/1)"), std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace pellan::test
