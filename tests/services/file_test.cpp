#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "support/current_error.h"
#include "support/error_record_scope.h"
#include "support/file.h"
#include "support/scratch_state_home.h"
#include "support/test_env.h"

namespace pellan {
namespace {

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

TEST_F(CFileTest, WriteFileAppendsLinesAndReadFileReadsThem) {
  const std::string path = Path("three.txt");
  for (const char* line : {"one", "two", "three"}) EXPECT_TRUE(m_file.WriteFile(path, line, false));
  EXPECT_EQ(test::ReadWholeFile(path), "one\r\ntwo\r\nthree\r\n");
  EXPECT_EQ(m_file.ReadFile(path, -3), "one\r\ntwo\r\nthree");
  EXPECT_EQ(m_file.ReadFile(path, 1) + m_file.ReadFile(path, 3) + m_file.ReadFile(path, 4), "onethree");
  EXPECT_TRUE(m_file.WriteFile(path, "new", true));
  EXPECT_EQ(test::ReadWholeFile(path), "new\r\n");
  const struct {
    const char* content;
    const char* joined;
    const char* second;
  } rows[] = {{"a\nb\n", "a\r\nb", "b"},
              {"a\rb", "a\r\nb", "b"},
              {"a\r\n\r\nb\r\n", "a\r\n\r\nb", ""},
              {"\r\n", "", ""}};
  for (const auto& r : rows) {
    ASSERT_TRUE(test::WriteWholeFile(Path("f"), r.content));
    EXPECT_EQ(m_file.ReadFile(Path("f"), 0), r.joined) << r.content;
    EXPECT_EQ(m_file.ReadFile(Path("f"), 2), r.second) << r.content;
  }
  // Text goes through the process code page.
  SetProcessCodePage(CodePage::kGbk);
  EXPECT_TRUE(m_file.WriteFile(Path("gbk"), "中文", true));
  EXPECT_EQ(m_file.ReadFile(Path("gbk"), 1), "中文");
  SetProcessCodePage(CodePage::kUtf8);
  EXPECT_EQ(test::ReadWholeFile(Path("gbk")), "\xd6\xd0\xce\xc4\r\n");
  EXPECT_EQ(m_scope.Log(), "");
}

TEST_F(CFileTest, ReadOnlyFilesAndAttributes) {
  const std::string path = Path("ro");
  ASSERT_TRUE(test::WriteWholeFile(path, "old\r\n"));
  chmod(path.c_str(), 0444);
  EXPECT_TRUE(m_file.WriteFile(path, "more", false));  // written, and its mode kept
  EXPECT_EQ(test::ReadWholeFile(path), "old\r\nmore\r\n");
  EXPECT_EQ(Mode(path), 0444u);
  EXPECT_EQ(m_file.GetFileAttrib(path), 1);
  EXPECT_TRUE(m_file.SetFileAttrib(path, kAttrNormal));
  EXPECT_EQ(Mode(path), 0644u);
  EXPECT_EQ(m_file.GetFileAttrib(path), kAttrNormal);
  chmod(path.c_str(), 0666);
  EXPECT_TRUE(m_file.SetFileAttrib(path, kAttrReadOnly | kAttrHidden));
  EXPECT_EQ(Mode(path), 0444u);
  EXPECT_FALSE(m_file.SetFileAttrib(Path("missing"), 0));
}

TEST_F(CFileTest, FailuresAreRecordedUnderTheOperation) {
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
}

TEST_F(CFileTest, ExistenceTestsAndAFifoIsNeverOpened) {
  test::WriteWholeFile(Path("a.txt"), "x");
  mkdir(Path("dir").c_str(), 0755);
  symlink("a.txt", Path("link").c_str());
  ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
  EXPECT_FALSE(m_file.WriteFile(Path("pipe"), "x", false));  // would block without a reader
  EXPECT_EQ(m_file.ReadFile(Path("pipe"), 0), "");
  EXPECT_EQ(m_file.GetFileAttrib(Path("pipe")), 0);
  EXPECT_TRUE(m_file.FileExists("  " + Path("a.txt") + " "));
  // Not: the file system's letter case, a pattern, a folder, a link, a FIFO, nothing.
  for (const std::string& no : {Path("A.TXT"), Path("*.txt"), Path("dir"), Path("link"), Path("pipe"), std::string()}) {
    EXPECT_FALSE(m_file.FileExists(no)) << no;
  }
  EXPECT_TRUE(m_file.FolderExists(" " + Path("dir/") + " "));
  for (const std::string& no : {Path("a.txt"), Path("missing"), std::string()}) EXPECT_FALSE(m_file.FolderExists(no));
}

TEST(CFilePaths, NormalisationAndSizeHalves) {
  CFile f;
  const struct {
    const char* in;
    const char* path;
    const char* parent;
  } rows[] = {{" \\a\\\\b//c ", "/a/b/c", "/a/b"}, {"a//b/c", "a/b/c", "a/b"}, {"/x", "/x", ""},
              {"/x/y/", "/x/y/", "/x/y"},          {"x", "x", ""},             {"///", "/", ""},
              {"   ", "", ""}};
  for (const auto& r : rows) {
    EXPECT_EQ(f.FormatPath(r.in), r.path) << r.in;
    EXPECT_EQ(f.FormatFTPPath(r.in), r.path) << r.in;
    EXPECT_EQ(f.GetParentFolderPath(r.in), r.parent) << r.in;
  }
  const struct {
    int32_t low, high;
    double size;
  } sizes[] = {
      {0, 0, 0.0},          {INT32_MIN, 0, 2147483648.0},  // 2^31: the low half is unsigned
      {-1, 0, 4294967295.0}, {5, 1, 4294967301.0},         {INT32_MIN, 1, 6442450944.0},
      {0, 1024, 4398046511104.0}, {-1, -1, -1.0},
  };
  for (const auto& r : sizes) {
    EXPECT_EQ(f.Long2Size(r.low, r.high), r.size) << r.size;
    int32_t low = 7, high = 7;
    f.Size2Long(r.size, low, high);
    EXPECT_EQ(low, r.low) << r.size;
    EXPECT_EQ(high, r.high) << r.size;
  }
  for (double outside : {1e19, -1e19, static_cast<double>(NAN), static_cast<double>(INFINITY)}) {
    int32_t low = 7, high = 7;
    f.Size2Long(outside, low, high);
    EXPECT_EQ(std::make_pair(low, high), std::make_pair(0, 0));
  }
}

}  // namespace
}  // namespace pellan
