#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <tuple>

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "support/current_error.h"
#include "support/error_record_scope.h"
#include "support/file.h"
#include "support/scratch_state_home.h"
#include "support/test_env.h"

namespace pellan {
namespace {

using namespace std::string_literals;

class CFileTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return m_dir.File(name); }
  mode_t Mode(const std::string& path) const {
    struct stat st{};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
  }

  test::TempDir m_dir;
  test::ErrorRecordScope m_scope;
  CFile m_file;
};

TEST_F(CFileTest, WriteFileAppendsLinesReadFileReadsThemAndReadOnlyFilesAndAttributes) {
  std::string path = Path("three.txt");
  for (const char* line : {"one", "two", "three"}) EXPECT_TRUE(m_file.WriteFile(path, line, false));
  EXPECT_EQ(test::ReadWholeFile(path), "one\r\ntwo\r\nthree\r\n");
  std::string reads;
  for (int line : {-3, 1, 3, 4}) reads += m_file.ReadFile(path, line) + "|";
  EXPECT_EQ(reads, "one\r\ntwo\r\nthree|one|three||");
  EXPECT_TRUE(m_file.WriteFile(path, "new", true));
  EXPECT_EQ(test::ReadWholeFile(path), "new\r\n");
  for (const auto& [content, joined, second] : {std::tuple("a\nb\n", "a\r\nb", "b"), {"a\rb", "a\r\nb", "b"},
                                                {"a\r\n\r\nb\r\n", "a\r\n\r\nb", ""}, {"\r\n", "", ""}}) {
    ASSERT_TRUE(test::WriteWholeFile(Path("f"), content));
    EXPECT_EQ(m_file.ReadFile(Path("f"), 0) + "|" + m_file.ReadFile(Path("f"), 2), joined + "|"s + second);
  }
  // Text goes through the process code page.
  SetProcessCodePage(CodePage::kGbk);
  EXPECT_TRUE(m_file.WriteFile(Path("gbk"), "中文", true));
  EXPECT_EQ(m_file.ReadFile(Path("gbk"), 1), "中文");
  SetProcessCodePage(CodePage::kUtf8);
  EXPECT_EQ(test::ReadWholeFile(Path("gbk")), "\xd6\xd0\xce\xc4\r\n");
  EXPECT_EQ(m_scope.Log(), "");
  // A read-only file, and the attributes.
  path = Path("ro");
  ASSERT_TRUE(test::WriteWholeFile(path, "old\r\n"));
  chmod(path.c_str(), 0444);
  EXPECT_TRUE(m_file.WriteFile(path, "more", false));  // written, and its mode kept
  EXPECT_EQ(test::ReadWholeFile(path), "old\r\nmore\r\n");
  EXPECT_EQ(std::pair(Mode(path), m_file.GetFileAttrib(path)), std::pair(0444u, 1L));
  EXPECT_TRUE(m_file.SetFileAttrib(path, kAttrNormal));
  EXPECT_EQ(std::pair(Mode(path), m_file.GetFileAttrib(path)), std::pair(0644u, long{kAttrNormal}));
  chmod(path.c_str(), 0666);
  EXPECT_TRUE(m_file.SetFileAttrib(path, kAttrReadOnly | kAttrHidden));
  EXPECT_EQ(Mode(path), 0444u);
  EXPECT_FALSE(m_file.SetFileAttrib(Path("missing"), 0));
}

TEST_F(CFileTest, FailuresAreRecordedUnderTheOperationExistenceTestsAndAFifoIsNeverOpened) {
  EXPECT_FALSE(m_file.WriteFile("", "x", false));
  EXPECT_EQ(m_scope.Log(), "");  // an empty path is no failure

  EXPECT_FALSE(m_file.WriteFile(m_dir.Path(), "x", false));
  EXPECT_EQ(m_scope.Record().Number(), EISDIR);
  const std::string log = m_scope.Log();
  EXPECT_EQ(log.substr(0, log.find("  {")), "WriteFile|" + ErrnoText(EISDIR) + "(" + std::to_string(EISDIR) + ")");

  // A stale error in the record does not stand in for the new one.
  m_scope.Record().SetNumber(16530);
  m_scope.Record().SetDescription("Login failed");
  EXPECT_EQ(m_file.ReadFile(Path("missing"), 0), "");
  EXPECT_EQ(std::to_string(m_scope.Record().Number()) + "|" + m_scope.Record().Description() + "|" +
                m_scope.Record().Source() + "|" + std::to_string(CurrentError().number),
            std::to_string(ENOENT) + "|" + ErrnoText(ENOENT) + "|ReadFile|0");
  // Existence tests; a FIFO is never opened.
  test::WriteWholeFile(Path("a.txt"), "x");
  mkdir(Path("dir").c_str(), 0755);
  symlink("a.txt", Path("link").c_str());
  ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
  EXPECT_FALSE(m_file.WriteFile(Path("pipe"), "x", false));  // would block without a reader
  EXPECT_EQ(m_file.ReadFile(Path("pipe"), 0), "");
  EXPECT_EQ(m_file.GetFileAttrib(Path("pipe")), 0);
  EXPECT_TRUE(m_file.FileExists("  " + Path("a.txt") + " "));
  // Not: the file system's letter case, a pattern, a folder, a link, a FIFO, nothing.
  for (const std::string& no : {Path("A.TXT"), Path("*.txt"), Path("dir"), Path("link"), Path("pipe"), ""s}) {
    EXPECT_FALSE(m_file.FileExists(no)) << no;
  }
  EXPECT_TRUE(m_file.FolderExists(" " + Path("dir/") + " "));
  for (const std::string& no : {Path("a.txt"), Path("missing"), ""s}) EXPECT_FALSE(m_file.FolderExists(no));
}

TEST(CFilePaths, NormalisationAndSizeHalves) {
  CFile f;
  for (const auto& [in, path, parent] :
       {std::tuple(" \\a\\\\b//c ", "/a/b/c", "/a/b"), {"a//b/c", "a/b/c", "a/b"}, {"/x", "/x", ""},
        {"/x/y/", "/x/y/", "/x/y"}, {"x", "x", ""}, {"///", "/", ""}, {"   ", "", ""}}) {
    EXPECT_EQ(f.FormatPath(in) + "|" + f.FormatFTPPath(in) + "|" + f.GetParentFolderPath(in),
              path + "|"s + path + "|" + parent);
  }
  const std::tuple<int32_t, int32_t, double> sizes[] = {
      {0, 0, 0.0},          {INT32_MIN, 0, 2147483648.0},  // 2^31: the low half is unsigned
      {-1, 0, 4294967295.0}, {5, 1, 4294967301.0},         {INT32_MIN, 1, 6442450944.0},
      {0, 1024, 4398046511104.0}, {-1, -1, -1.0},
      // Sizes out of range give 0 and 0.
      {0, 0, 1e19}, {0, 0, -1e19}, {0, 0, NAN}, {0, 0, INFINITY},
  };
  for (const auto& [low, high, size] : sizes) {
    if (std::isfinite(size) && std::abs(size) < 1e19) {
      EXPECT_EQ(f.Long2Size(low, high), size) << size;
    }
    int32_t outLow = 7, outHigh = 7;
    f.Size2Long(size, outLow, outHigh);
    EXPECT_EQ(std::pair(outLow, outHigh), std::pair(low, high)) << size;
  }
}

}  // namespace
}  // namespace pellan
