// The control's local helpers (sizes, names, extensions, size texts, dates)
// and the transfer list the host edits while an upload job runs.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ftp/ftp_library.h"
#include "support/scratch_state_home.h"
#include "support/test_env.h"

namespace pellan {
namespace {

using test::TempDir;

// A file of `size` bytes that takes no room on disk.
bool MakeSparseFile(const std::string& path, off_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool ok = ftruncate(fd, size) == 0;
  close(fd);
  return ok;
}

class LocalHelpersTest : public ::testing::Test {
 protected:
  test::ScopedLoop m_loop;
  FtpLibrary m_ftp;
  TempDir m_dir;
};

TEST_F(LocalHelpersTest, LocalFileSizeHoldsSizesPastFourGigabytes) {
  struct Row {
    const char* name;
    off_t size;
  };
  for (const Row& row : {Row{"empty", 0}, Row{"small", 5}, Row{"two-gb", off_t{2147483648}},
                         Row{"four-gb", off_t{4294967296}}, Row{"four-gb-and-one", off_t{4294967297}}}) {
    const std::string path = m_dir.File(row.name);
    ASSERT_TRUE(MakeSparseFile(path, row.size)) << row.name;
    EXPECT_EQ(m_ftp.GetLocalFileSize(path), static_cast<double>(row.size)) << row.name;
  }
}

TEST_F(LocalHelpersTest, LocalFileSizeIsMinusOneForWhatIsNoFile) {
  ASSERT_EQ(mkdir(m_dir.File("folder").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo(m_dir.File("fifo").c_str(), 0644), 0);  // never opened: that would block
  for (const char* name : {"missing", "folder", "fifo"}) {
    EXPECT_EQ(m_ftp.GetLocalFileSize(m_dir.File(name)), -1) << name;
  }
  EXPECT_TRUE(m_ftp.LocalFolderExists(m_dir.File("folder")));
  EXPECT_FALSE(m_ftp.LocalFileExists(m_dir.File("folder")));
  EXPECT_FALSE(m_ftp.LocalFolderExists(m_dir.File("missing")));
}

TEST_F(LocalHelpersTest, FileNameIsTheLastComponent) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"/pub/a.txt", "a.txt"},   {"/pub/dir/", "dir"},          {"a.txt", "a.txt"},
      {"  /pub/b.txt  ", "b.txt"}, {"\\dir\\sub\\", "sub"},    {"/pub//my file.txt", "my file.txt"},
      {"", ""},                  {"   ", ""},
  };
  for (const auto& [path, name] : rows) EXPECT_EQ(m_ftp.GetFileName(path), name) << '"' << path << '"';
}

TEST_F(LocalHelpersTest, ExtensionIsWhatFollowsTheLastPoint) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"archive.tar.gz", "gz"}, {"README", ""}, {"/pub/a.TXT", "TXT"}, {" note.md ", "md"}, {"", ""},
  };
  for (const auto& [path, ext] : rows) EXPECT_EQ(m_ftp.GetFileExtendName(path), ext) << '"' << path << '"';
}

TEST_F(LocalHelpersTest, SizeTexts) {
  const std::vector<std::pair<double, std::string>> rows = {
      {0, "0 Bytes"},          {512, "512 Bytes"},       {1023, "1023 Bytes"},  {1024, "1 KB"},
      {1536, "1.5 KB"},        {2048, "2 KB"},           {1048575, "1024 KB"},  {1048576, "1 M"},
      {1234567, "1.18 M"},     {1572864, "1.5 M"},       {4294967296.0, "4096 M"},
  };
  for (const auto& [size, text] : rows) EXPECT_EQ(m_ftp.FormatFileSize(size), text) << size;
}

TEST_F(LocalHelpersTest, LocalFileDateIsLocalTimeOrEmpty) {
  const char* oldTz = std::getenv("TZ");
  const std::string savedTz = oldTz ? oldTz : "";
  setenv("TZ", "UTC0", 1);
  tzset();
  const std::string path = m_dir.File("dated.txt");
  ASSERT_TRUE(test::WriteWholeFile(path, "x"));
  const timespec times[2] = {{1767323045, 0}, {1767323045, 0}};  // 2026-01-02 03:04:05 UTC
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_EQ(m_ftp.GetLocalFileDate(path), "2026-01-02 03:04:05");
  EXPECT_EQ(m_ftp.GetLocalFileDate(m_dir.File("missing")), "");
  if (oldTz) {
    setenv("TZ", savedTz.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

// ---- the transfer list

struct ListStep {
  const char* path;
  bool cancel;  // true adds the path, false takes it off
};

struct TransferListRow {
  const char* name;
  std::vector<ListStep> steps;
  const char* expected;
};
void PrintTo(const TransferListRow& row, std::ostream* os) { *os << row.name; }

class TransferListTest : public ::testing::TestWithParam<TransferListRow> {
 protected:
  test::ScopedLoop m_loop;
  FtpLibrary m_ftp;
};

TEST_P(TransferListTest, ReadsAsTheRulesSay) {
  for (const ListStep& step : GetParam().steps) m_ftp.ChangeTransferList(step.path, step.cancel);
  EXPECT_EQ(m_ftp.CanceledFileList(), GetParam().expected);
  EXPECT_EQ(m_ftp.AbortedFileList(), "");  // only an upload job fills it
}

INSTANTIATE_TEST_SUITE_P(
    Rules, TransferListTest,
    ::testing::Values(
        TransferListRow{"OnePath", {{"/up/a.txt", true}}, "/up/a.txt"},
        TransferListRow{"AddAddRemoveFirst", {{"/up/a", true}, {"/up/b", true}, {"/up/a", false}}, "/up/b"},
        TransferListRow{"AddAddRemoveLast", {{"/up/a", true}, {"/up/b", true}, {"/up/b", false}}, "/up/a"},
        TransferListRow{"AddedTwiceRemovedOnce", {{"/up/a", true}, {"/up/a", true}, {"/up/a", false}}, "/up/a"},
        TransferListRow{"AddedTwiceRemovedTwice",
                        {{"/up/a", true}, {"/up/a", true}, {"/up/a", false}, {"/up/a", false}},
                        ""},
        TransferListRow{"RemovingAnAbsentPath", {{"/up/a", true}, {"/up/zzz", false}}, "/up/a"},
        TransferListRow{"RemovingFromAnEmptyList", {{"/up/a", false}}, ""},
        TransferListRow{"OnlyWholePathsMatch", {{"/up/ab", true}, {"/up/a", false}, {"/up/b", false}}, "/up/ab"},
        TransferListRow{"LetterCaseCounts", {{"/up/A.txt", true}, {"/up/a.txt", false}}, "/up/A.txt"},
        TransferListRow{"RemovedAndAddedAgain", {{"/up/a", true}, {"/up/a", false}, {"/up/a", true}}, "/up/a"},
        TransferListRow{"ThreeKeepTheirOrder",
                        {{"/up/c", true}, {"/up/a", true}, {"/up/b", true}, {"/up/a", false}},
                        "/up/c|/up/b"}),
    [](const ::testing::TestParamInfo<TransferListRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pellan
