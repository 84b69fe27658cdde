// The control's local helpers: sizes, names, extensions, size texts, dates.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ftp/ftp_library.h"
#include "support/scratch_state_home.h"
#include "support/test_env.h"

namespace pellan {
namespace {

class LocalHelpersTest : public ::testing::Test {
 protected:
  test::ScopedLoop m_loop;
  FtpLibrary m_ftp;
  test::TempDir m_dir;
};

TEST_F(LocalHelpersTest, LocalFileSizesPastFourGigabytesExistenceAndDates) {
  for (const off_t size : {off_t{0}, off_t{2147483648}, off_t{4294967297}}) {
    const std::string path = m_dir.File(std::to_string(size));
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_EQ(ftruncate(fd, size), 0);  // sparse: takes no room on disk
    close(fd);
    EXPECT_EQ(m_ftp.GetLocalFileSize(path), static_cast<double>(size));
  }
  ASSERT_EQ(mkdir(m_dir.File("folder").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo(m_dir.File("fifo").c_str(), 0644), 0);  // never opened: that would block
  for (const char* name : {"missing", "folder", "fifo"}) EXPECT_EQ(m_ftp.GetLocalFileSize(m_dir.File(name)), -1) << name;
  EXPECT_EQ(std::to_string(m_ftp.LocalFolderExists(m_dir.File("folder"))) +
                std::to_string(m_ftp.LocalFileExists(m_dir.File("folder"))) +
                std::to_string(m_ftp.LocalFolderExists(m_dir.File("missing"))),
            "100");
  // The date of a file in local time; none for a file that is not there.
  const std::string path = m_dir.File("dated.txt");
  ASSERT_TRUE(test::WriteWholeFile(path, "x"));
  const timespec times[2] = {{1767323045, 0}, {1767323045, 0}};  // 2026-01-02 03:04:05 UTC
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  {
    const test::ScopedEnv tz("TZ", "UTC0");
    tzset();
    EXPECT_EQ(m_ftp.GetLocalFileDate(path) + "|" + m_ftp.GetLocalFileDate(m_dir.File("missing")),
              "2026-01-02 03:04:05|");
  }
  tzset();
}

TEST_F(LocalHelpersTest, NamesExtensionsAndSizeTexts) {
  const struct {
    const char* path;
    const char* name;
    const char* extension;
  } paths[] = {{"/pub/a.tar.gz", "a.tar.gz", "gz"}, {"/pub/dir/", "dir", ""},   {"  /pub/b.TXT  ", "b.TXT", "TXT"},
               {"\\dir\\sub\\", "sub", ""},         {"/pub//my file", "my file", ""}, {"a.txt", "a.txt", "txt"}, {"   ", "", ""}};
  for (const auto& p : paths) {
    EXPECT_EQ(m_ftp.GetFileName(p.path), p.name) << '"' << p.path << '"';
    EXPECT_EQ(m_ftp.GetFileExtendName(p.path), p.extension) << '"' << p.path << '"';
  }
  const std::vector<std::pair<double, std::string>> sizes = {
      {0, "0 Bytes"},       {1023, "1023 Bytes"}, {1024, "1 KB"},    {1536, "1.5 KB"},
      {1048575, "1024 KB"}, {1048576, "1 M"},     {1234567, "1.18 M"}, {4294967296.0, "4096 M"}};
  for (const auto& [size, text] : sizes) EXPECT_EQ(m_ftp.FormatFileSize(size), text) << size;
}

}  // namespace
}  // namespace pellan
