// The path file, the port rule, the client's text files and path helpers.
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client/client_files.h"
#include "client/path_file.h"
#include "platform/code_page.h"
#include "support/test_env.h"

namespace pellan::client {
namespace {

using pellan::test::ReadWholeFile;
using pellan::test::TempDir;
using pellan::test::WriteWholeFile;

TEST(PathFileTest, FullFileFillsAllFiveFieldsWithCrLfOrLf) {
  for (const std::string eol : {"\r\n", "\n"}) {
    const auto f = ParsePathFile("/srv/data" + eol + "ftp.example" + eol + "2121" + eol + "bob" + eol + "p w" + eol);
    EXPECT_EQ(f.localPath, "/srv/data");
    EXPECT_EQ(f.serverName, "ftp.example");
    EXPECT_EQ(f.port, "2121");
    EXPECT_EQ(f.userName, "bob");
    EXPECT_EQ(f.passWord, "p w") << "line end " << (eol.size() == 2 ? "CR LF" : "LF");
  }
}

TEST(PathFileTest, ShortBlankAndEmptyFiles) {
  const auto onlyFolder = ParsePathFile("/srv/data\r\n");
  EXPECT_EQ(onlyFolder.localPath, "/srv/data");
  EXPECT_FALSE(onlyFolder.serverName);
  EXPECT_FALSE(onlyFolder.port);

  // The folder is the first non-blank line (kept untrimmed); the server is
  // still line 2, whatever it holds.
  const auto leadingBlanks = ParsePathFile("  \r\n /srv/in \r\n127.0.0.1\r\n");
  EXPECT_EQ(leadingBlanks.localPath, " /srv/in ");
  EXPECT_EQ(leadingBlanks.serverName, " /srv/in ");
  EXPECT_EQ(leadingBlanks.port, "127.0.0.1");
  EXPECT_FALSE(leadingBlanks.userName);

  const auto blank = ParsePathFile(" \r\n\t\r\n\r\n");
  EXPECT_FALSE(blank.localPath);
  EXPECT_FALSE(blank.serverName);
  EXPECT_FALSE(ParsePathFile("").localPath);

  // A password line that ends the file without a line end still counts.
  EXPECT_EQ(ParsePathFile("/a\nh\n21\nu\nsecret").passWord, "secret");
}

TEST(PathFileTest, PortRuleKeepsEveryTcpPortAndNothingElse) {
  for (const std::string kept : {"1", "21", "2121", "32767", "32768", "40000", "65535", " 990 ", "00021"}) {
    EXPECT_EQ(CheckedPortText(kept), kept);
  }
  for (const std::string bad : {"", "  ", "0", "65536", "-1", "+21", "21a", "abc", "2 1", "1e2", "99999999999999"}) {
    EXPECT_EQ(CheckedPortText(bad), "21") << "'" << bad << "'";
  }
  EXPECT_EQ(PortNumber(" 990 "), 990);
  EXPECT_EQ(PortNumber("40000"), 40000);
}

TEST(ClientFilesTest, SaveTextFileAppendsReplacesAndRewritesReadOnlyFiles) {
  TempDir dir;
  const std::string path = dir.File("succ.txt");
  ASSERT_TRUE(SaveTextFile(path, "", true));
  EXPECT_EQ(ReadWholeFile(path), "\r\n");
  ASSERT_TRUE(SaveTextFile(path, "a\r\nb", false));
  EXPECT_EQ(ReadWholeFile(path), "\r\na\r\nb\r\n");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  ASSERT_TRUE(SaveTextFile(path, "x", true));
  EXPECT_EQ(ReadWholeFile(path), "x\r\n");
  struct stat st{};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);  // the mode it had
  EXPECT_FALSE(SaveTextFile(dir.File("no/such/folder/f"), "x", true));
  EXPECT_FALSE(SaveTextFile(dir.Path(), "x", true));  // a folder is not replaced
}

TEST(ClientFilesTest, TextFilesUseTheProcessCodePage) {
  TempDir dir;
  SetProcessCodePage(CodePage::kGbk);
  ASSERT_TRUE(SaveTextFile(dir.File("g.txt"), "中文", true));
  EXPECT_EQ(ReadWholeFile(dir.File("g.txt")), "\xD6\xD0\xCE\xC4\r\n");
  EXPECT_EQ(ReadTextFile(dir.File("g.txt"), 1), "中文");
  SetProcessCodePage(CodePage::kUtf8);
}

TEST(ClientFilesTest, ReadTextFileLinesAndWholeText) {
  TempDir dir;
  ASSERT_TRUE(WriteWholeFile(dir.File("f"), "one\r\ntwo\nthree\r\n"));
  EXPECT_EQ(ReadTextFile(dir.File("f"), 0), "one\r\ntwo\r\nthree");
  EXPECT_EQ(ReadTextFile(dir.File("f"), 2), "two");
  EXPECT_EQ(ReadTextFile(dir.File("f"), 4), "");
  EXPECT_EQ(ReadTextFile(dir.File("missing"), 0), "");
  EXPECT_EQ(ReadTextFile(dir.Path(), 0), "");
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  EXPECT_EQ(ReadTextFile(dir.File("fifo"), 0), "");  // never opened: it would block
  EXPECT_FALSE(ExistFile(dir.File("fifo")));
  EXPECT_TRUE(ExistFile(" " + dir.File("f") + " "));
  EXPECT_TRUE(ExistFolder(dir.Path() + " "));
  EXPECT_FALSE(ExistFolder("   "));
  EXPECT_FALSE(ExistFolder(dir.File("f")));
}

TEST(ClientFilesTest, FolderNames) {
  EXPECT_EQ(GetFolderName("/data/in/"), "in");
  EXPECT_EQ(GetFolderName("/data//in"), "in");
  EXPECT_EQ(GetFolderName("\\data\\in\\"), "in");
  EXPECT_EQ(GetFolderName("/srv"), "srv");
  EXPECT_EQ(GetFolderName("/"), "");
  EXPECT_EQ(GetFolderName("in"), "");
  EXPECT_EQ(NormalizePath(" \\\\a//b\\ "), "/a/b/");
}

}  // namespace
}  // namespace pellan::client
