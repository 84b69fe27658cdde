// The path file, the port rule, the client's text files and path helpers.
#include <sys/stat.h>

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

std::string Fields(const PathFileFields& f) {
  std::string out;
  for (const auto& field : {f.localPath, f.serverName, f.port, f.userName, f.passWord}) {
    out += (field ? *field : "-") + "|";
  }
  return out;
}

TEST(PathFileTest, FieldsAndThePortRule) {
  const struct {
    std::string text, fields;
  } rows[] = {
      {"/srv/data\r\nftp.example\r\n2121\r\nbob\r\np w\r\n", "/srv/data|ftp.example|2121|bob|p w|"},
      {"/srv/data\nftp.example\n2121\nbob\np w\n", "/srv/data|ftp.example|2121|bob|p w|"},
      {"/a\nh\n21\nu\nsecret", "/a|h|21|u|secret|"},  // the last line needs no line end
      {"/srv/data\r\n", "/srv/data|-|-|-|-|"},
      // The folder is the first non-blank line (kept untrimmed); the server is
      // still line 2, whatever it holds.
      {"  \r\n /srv/in \r\n127.0.0.1\r\n", " /srv/in | /srv/in |127.0.0.1|-|-|"},
      {" \r\n\t\r\n\r\n", "-|-|-|-|-|"},
  };
  for (const auto& r : rows) EXPECT_EQ(Fields(ParsePathFile(r.text)), r.fields) << r.text;

  for (const std::string kept : {"1", "32768", "65535", " 990 ", "00021"}) EXPECT_EQ(CheckedPortText(kept), kept);
  for (const std::string bad : {"", "  ", "0", "65536", "-1", "+21", "21a", "2 1", "1e2", "99999999999999"}) {
    EXPECT_EQ(CheckedPortText(bad), "21") << "'" << bad << "'";
  }
  EXPECT_EQ(PortNumber(" 990 ") + PortNumber("40000"), 40990);
}

TEST(ClientFilesTest, TextFilesAndPaths) {
  TempDir dir;
  const std::string path = dir.File("succ.txt");
  ASSERT_TRUE(SaveTextFile(path, "", true));
  ASSERT_TRUE(SaveTextFile(path, "a\r\nb", false));
  EXPECT_EQ(ReadWholeFile(path), "\r\na\r\nb\r\n");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  ASSERT_TRUE(SaveTextFile(path, "x", true));  // a read-only file is rewritten, its mode kept
  struct stat st{};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(ReadWholeFile(path) + std::to_string(st.st_mode & 0777), "x\r\n" + std::to_string(0444));
  // Not into a missing folder, nor over a folder.
  EXPECT_FALSE(SaveTextFile(dir.File("no/such/folder/f"), "x", true) || SaveTextFile(dir.Path(), "x", true));

  SetProcessCodePage(CodePage::kGbk);
  ASSERT_TRUE(SaveTextFile(dir.File("g.txt"), "中文", true));
  EXPECT_EQ(ReadTextFile(dir.File("g.txt"), 1), "中文");
  SetProcessCodePage(CodePage::kUtf8);
  EXPECT_EQ(ReadWholeFile(dir.File("g.txt")), "\xD6\xD0\xCE\xC4\r\n");

  ASSERT_TRUE(WriteWholeFile(dir.File("f"), "one\r\ntwo\nthree\r\n"));
  EXPECT_EQ(ReadTextFile(dir.File("f"), 0) + "|" + ReadTextFile(dir.File("f"), 2), "one\r\ntwo\r\nthree|two");
  EXPECT_EQ(ReadTextFile(dir.File("f"), 4) + ReadTextFile(dir.File("missing"), 0) + ReadTextFile(dir.Path(), 0), "");
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  EXPECT_EQ(ReadTextFile(dir.File("fifo"), 0), "");  // never opened: it would block
  EXPECT_EQ(std::to_string(ExistFile(dir.File("fifo"))) + std::to_string(ExistFile(" " + dir.File("f") + " ")) +
                std::to_string(ExistFolder(dir.Path() + " ")) + std::to_string(ExistFolder("   ")) +
                std::to_string(ExistFolder(dir.File("f"))),
            "01100");

  const char* const names[][2] = {{"/data/in/", "in"}, {"/data//in", "in"}, {"\\data\\in\\", "in"},
                                  {"/srv", "srv"},     {"/", ""},           {"in", ""}};
  for (const auto& n : names) EXPECT_EQ(GetFolderName(n[0]), n[1]) << n[0];
  EXPECT_EQ(NormalizePath(" \\\\a//b\\ "), "/a/b/");
}

}  // namespace
}  // namespace pellan::client
