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

class CreateFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { SetCurrentErrorMessages(&m_messages); }
  void TearDown() override { SetCurrentErrorMessages(nullptr); }

  test::TempDir m_dir;
  test::ErrorRecordScope m_scope;
  ErrorMessages m_messages{kLangEnglish};
  CFile m_file;
};

TEST_F(CreateFolderTest, CreatesLevelByLevel) {
  mkdir(m_dir.File("a").c_str(), 0755);
  EXPECT_TRUE(m_file.CreateFolder(m_dir.File("a/b/c")));
  EXPECT_TRUE(m_file.FolderExists(m_dir.File("a/b/c")));
  EXPECT_TRUE(m_file.CreateFolder(" " + m_dir.Path() + "\\x\\\\y\\ "));
  EXPECT_TRUE(m_file.FolderExists(m_dir.File("x/y")));
  EXPECT_TRUE(m_file.CreateFolder(m_dir.File("a/b/c/")));  // already there
  EXPECT_TRUE(m_file.CreateFolder("/"));
  EXPECT_EQ(m_scope.Record().Number(), 0);
  EXPECT_EQ(m_scope.Log(), "");
}

TEST_F(CreateFolderTest, RefusedPathsRaiseTheFileErrorNumber) {
  const struct {
    std::string path;
    std::string description;
  } rows[] = {
      {"", "Please input filename!"},
      {"   ", "Please input filename!"},
      {"relative\\dir", "Invalid Path[ relative/dir ]"},
      {"./here", "Invalid Path[ ./here ]"},
  };
  for (const auto& r : rows) {
    m_scope.Record().Clear();
    EXPECT_FALSE(m_file.CreateFolder(r.path)) << r.path;
    EXPECT_EQ(m_scope.Record().Number(), CFile::kErrorNumber);
    EXPECT_EQ(m_scope.Record().Description(), r.description);
    EXPECT_EQ(m_scope.Record().Source(), "CreateFolder");
  }
  EXPECT_NE(m_scope.Log().find("CreateFolder|Invalid Path[ ./here ](11111)  {"), std::string::npos);
}

TEST_F(CreateFolderTest, TextsFollowTheMessagesLanguage) {
  m_messages.SetLanguage(kLangSimplifiedChinese);
  EXPECT_FALSE(m_file.CreateFolder("relative"));
  EXPECT_EQ(m_scope.Record().Description(), "无效的路径[ relative ]");
}

TEST_F(CreateFolderTest, AFileInTheWayFailsTheCreation) {
  test::WriteWholeFile(m_dir.File("file"), "x");
  EXPECT_FALSE(m_file.CreateFolder(m_dir.File("file/sub")));
  EXPECT_EQ(m_scope.Record().Number(), CFile::kErrorNumber);
  EXPECT_EQ(m_scope.Record().Description(), "Failed to create directory[ " + m_dir.File("file/sub") + " ] !");
  EXPECT_EQ(m_scope.Record().Source(), "CreateFolder");
}

class ListDirsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* folder : {"a", "a/x", "b"}) mkdir(m_dir.File(folder).c_str(), 0755);
    for (const char* file : {"f.txt", ".hidden", "z.log", "a/g.txt", "a/x/h.txt", "b/i.txt"}) {
      test::WriteWholeFile(m_dir.File(file), "x");
    }
    symlink("a", m_dir.File("link").c_str());  // links and FIFOs are never listed
    mkfifo(m_dir.File("pipe").c_str(), 0600);
  }
  std::string D() const { return m_dir.Path() + "/"; }

  test::TempDir m_dir;
  test::ErrorRecordScope m_scope;
  test::ScopedLoop m_loop;
  CFile m_file;
};

TEST_F(ListDirsTest, OneLevelByFlag) {
  const std::string d = D();
  EXPECT_EQ(m_file.GetFolderFilePath(d, false, 2),
            d + ".hidden|0*" + d + "a|1*" + d + "b|1*" + d + "f.txt|0*" + d + "z.log|0");
  EXPECT_EQ(m_file.GetFolderFilePath(d, false, 0), d + ".hidden*" + d + "f.txt*" + d + "z.log");
  EXPECT_EQ(m_file.GetFolderFilePath(d, false, 1), d + "a*" + d + "b");
  EXPECT_EQ(m_file.GetFolderFilePath(d, false, -7), m_file.GetFolderFilePath(d, false, 2));
}

TEST_F(ListDirsTest, RecursionListsLevelBeforeSubfolders) {
  const std::string d = D();
  std::vector<std::string> dirs{"stale"};
  int flag = 2, count = 0;
  EXPECT_EQ(m_file.ListDirs(d, dirs, "", true, flag, count),
            d + ".hidden|0*" + d + "a|1*" + d + "b|1*" + d + "f.txt|0*" + d + "z.log|0*" +  //
                d + "a/g.txt|0*" + d + "a/x|1*" +                                           //
                d + "a/x/h.txt|0*" +                                                        //
                d + "b/i.txt|0*");
  EXPECT_EQ(dirs, (std::vector<std::string>{d + "a/", d + "b/", d + "a/x/"}));
  EXPECT_EQ(count, 3);
  EXPECT_EQ(m_file.GetFolderFilePath(d, true, 1), d + "a*" + d + "b*" + d + "a/x");
}

TEST_F(ListDirsTest, AFilePatternListsMatchingFilesOnly) {
  const std::string d = D();
  std::vector<std::string> dirs;
  int flag = 2, count = 0;
  EXPECT_EQ(m_file.ListDirs(d + "*.txt", dirs, "", false, flag, count), d + "f.txt*");
  EXPECT_EQ(flag, 0);  // the caller's flag changes too
  flag = 2;
  count = 0;
  EXPECT_EQ(m_file.ListDirs(d + "?.*", dirs, "", true, flag, count), d + "f.txt*" + d + "z.log*");
}

TEST_F(ListDirsTest, OtherFormsOfTheFolderPath) {
  const std::string d = D();
  const std::string all = m_file.GetFolderFilePath(d, false, 2);
  EXPECT_EQ(m_file.GetFolderFilePath(m_dir.Path(), false, 2), all);  // without its final "/"
  std::string backslashed = d;
  std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
  EXPECT_EQ(m_file.GetFolderFilePath(backslashed, false, 2), all);
  EXPECT_EQ(m_file.GetFolderFilePath(d + "missing/", true, 2), "");
  EXPECT_EQ(m_file.GetFolderFilePath(d + "f.txt", true, 2), "");
  EXPECT_EQ(m_file.GetFolderFilePath("", true, 2), "");
  EXPECT_EQ(m_scope.Log(), "");
}

TEST_F(ListDirsTest, PendingEventsRunWhileListing) {
  int ran = 0;
  m_loop.Loop().Post([&] { ++ran; });
  m_file.GetFolderFilePath(D(), false, 2);
  EXPECT_EQ(ran, 1);
}

}  // namespace
}  // namespace pellan
