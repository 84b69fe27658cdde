// The client's text files and path helpers.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "client/client_files.h"
#include "platform/code_page.h"
#include "support/test_env.h"

namespace pellan::client {
namespace {

using pellan::test::ReadWholeFile;
using pellan::test::TempDir;
using pellan::test::WriteWholeFile;

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
