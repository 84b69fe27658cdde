#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "support/error_messages.h"
#include "support/error_record_scope.h"
#include "support/file.h"
#include "support/scratch_state_home.h"
#include "support/test_env.h"

namespace pellan {
namespace {

class FoldersTest : public ::testing::Test {
 protected:
  void SetUp() override { SetCurrentErrorMessages(&m_messages); }
  void TearDown() override { SetCurrentErrorMessages(nullptr); }
  test::TempDir m_dir;
  test::ErrorRecordScope m_scope;
  test::ScopedLoop m_loop;
  ErrorMessages m_messages{kLangEnglish};
  CFile m_file;
};

TEST_F(FoldersTest, CreateFolderLevelByLevel) {
  mkdir(m_dir.File("a").c_str(), 0755);
  // The last two are already there.
  for (const std::string& path : {m_dir.File("a/b/c"), " " + m_dir.Path() + "\\x\\\\y\\ ", m_dir.File("a/b/c/"),
                                  std::string("/")}) {
    EXPECT_TRUE(m_file.CreateFolder(path)) << path;
  }
  EXPECT_TRUE(m_file.FolderExists(m_dir.File("a/b/c")) && m_file.FolderExists(m_dir.File("x/y")));
  EXPECT_EQ(std::to_string(m_scope.Record().Number()) + m_scope.Log(), "0");

  test::WriteWholeFile(m_dir.File("file"), "x");
  const std::pair<std::string, std::string> refused[] = {
      {"   ", "Please input filename!"},
      {"relative\\dir", "Invalid Path[ relative/dir ]"},
      {"./here", "Invalid Path[ ./here ]"},
      {m_dir.File("file/sub"), "Failed to create directory[ " + m_dir.File("file/sub") + " ] !"},
  };
  for (const auto& [path, description] : refused) {
    m_scope.Record().Clear();
    EXPECT_FALSE(m_file.CreateFolder(path)) << path;
    EXPECT_EQ(std::to_string(m_scope.Record().Number()) + "|" + m_scope.Record().Description() + "|" +
                  m_scope.Record().Source(),
              std::to_string(CFile::kErrorNumber) + "|" + description + "|CreateFolder");
  }
  EXPECT_NE(m_scope.Log().find("CreateFolder|Invalid Path[ ./here ](11111)  {"), std::string::npos);
  m_messages.SetLanguage(kLangSimplifiedChinese);  // the texts follow the messages' language
  EXPECT_FALSE(m_file.CreateFolder("relative"));
  EXPECT_EQ(m_scope.Record().Description(), "无效的路径[ relative ]");
}

TEST_F(FoldersTest, ListingByFlagLevelAndPattern) {
  // a/, a/x/, b/ and files, a link and a FIFO (never listed).
  for (const char* folder : {"a", "a/x", "b"}) mkdir(m_dir.File(folder).c_str(), 0755);
  for (const char* file : {"f.txt", ".hidden", "z.log", "a/g.txt", "a/x/h.txt", "b/i.txt"}) {
    test::WriteWholeFile(m_dir.File(file), "x");
  }
  symlink("a", m_dir.File("link").c_str());
  mkfifo(m_dir.File("pipe").c_str(), 0600);
  const std::string d = m_dir.Path() + "/";
  const std::string all = d + ".hidden|0*" + d + "a|1*" + d + "b|1*" + d + "f.txt|0*" + d + "z.log|0";
  std::string backslashed = m_dir.Path();  // another form of the folder path
  std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
  for (const auto& [path, recurse, flag, listed] :
       {std::tuple(d, false, 2, all), {d, false, 0, d + ".hidden*" + d + "f.txt*" + d + "z.log"},
        {d, false, -7, all}, {d, true, 1, d + "a*" + d + "b*" + d + "a/x"}, {backslashed, false, 2, all}}) {
    EXPECT_EQ(m_file.GetFolderFilePath(path, recurse, flag), listed) << flag;
  }
  for (const std::string& none : {d + "missing/", d + "f.txt", std::string()}) {
    EXPECT_EQ(m_file.GetFolderFilePath(none, true, 2), "") << none;
  }

  // The recursion lists a level before its subfolders.
  std::vector<std::string> dirs{"stale"};
  int flag = 2, count = 0;
  EXPECT_EQ(m_file.ListDirs(d, dirs, "", true, flag, count),
            all + "*" + d + "a/g.txt|0*" + d + "a/x|1*" + d + "a/x/h.txt|0*" + d + "b/i.txt|0*");
  EXPECT_EQ(dirs, (std::vector<std::string>{d + "a/", d + "b/", d + "a/x/"}));
  EXPECT_EQ(count, 3);
  // A file pattern lists matching files only, and sets the caller's flag.
  flag = 2, count = 0, dirs.clear();
  EXPECT_EQ(m_file.ListDirs(d + "*.txt", dirs, "", false, flag, count), d + "f.txt*");
  EXPECT_EQ(flag, 0);
  flag = 2;
  EXPECT_EQ(m_file.ListDirs(d + "?.*", dirs, "", true, flag, count), d + "f.txt*" + d + "z.log*");
  EXPECT_EQ(m_scope.Log(), "");

  // Pending events run while listing.
  int ran = 0;
  m_loop.Loop().Post([&] { ++ran; });
  m_file.GetFolderFilePath(d, false, 2);
  EXPECT_EQ(ran, 1);
}

}  // namespace
}  // namespace pellan
