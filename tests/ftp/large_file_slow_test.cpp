// A file past 4 GiB up to a real server and back, byte for byte: sizes,
// offsets and progress counts must not wrap at 32 bits anywhere on the way.
// The local file is sparse; the server's copy and the downloaded one are
// not, so the test first makes sure the disk has room for both.
#include <fcntl.h>
#include <sys/statvfs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ftp/ftp_library.h"
#include "net/socket_support.h"
#include "support/encrypt.h"
#include "support/error_record.h"
#include "support/ftp_servers.h"
#include "support/scratch_state_home.h"
#include "support/test_env.h"

namespace pellan {
namespace {

constexpr int64_t kFourGiB = int64_t{4} << 30;
constexpr int64_t kFileSize = kFourGiB + 12345;
constexpr int64_t kMarkerSize = 8 * 1024;  // the middle one ends before the tail one starts

// Non-zero blocks where a 32-bit count would go wrong: the start, both
// sides of 4 GiB, and the tail.
std::vector<int64_t> MarkerOffsets() { return {0, kFourGiB - kMarkerSize / 2, kFileSize - kMarkerSize}; }

std::string Marker(int64_t offset) {
  std::string block(kMarkerSize, '\0');
  for (int64_t i = 0; i < kMarkerSize; ++i) {
    const uint64_t v = static_cast<uint64_t>(offset + i) * 2654435761u;
    block[static_cast<size_t>(i)] = static_cast<char>((v >> 24) | 1);
  }
  return block;
}

bool MakeSparseFile(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ftruncate(fd, kFileSize) == 0;
  for (int64_t offset : MarkerOffsets()) {
    const std::string block = Marker(offset);
    ok = ok && pwrite(fd, block.data(), block.size(), offset) == static_cast<ssize_t>(block.size());
  }
  return close(fd) == 0 && ok;
}

// Where two files first differ, "" when they are equal (sizes included).
std::string Compare(const std::string& expected, const std::string& actual) {
  const int a = open(expected.c_str(), O_RDONLY | O_CLOEXEC);
  const int b = open(actual.c_str(), O_RDONLY | O_CLOEXEC);
  std::string result;
  struct stat sa {}, sb {};
  if (a < 0 || b < 0 || fstat(a, &sa) != 0 || fstat(b, &sb) != 0) {
    result = "cannot open " + std::string(a < 0 ? expected : actual);
  } else if (sa.st_size != sb.st_size) {
    result = "size " + std::to_string(sb.st_size) + " instead of " + std::to_string(sa.st_size);
  } else {
    std::vector<char> x(1 << 20), y(1 << 20);
    for (int64_t offset = 0; offset < sa.st_size && result.empty();) {
      const ssize_t n = pread(a, x.data(), x.size(), offset);
      const ssize_t m = n > 0 ? pread(b, y.data(), static_cast<size_t>(n), offset) : -1;
      if (n <= 0 || m != n) {
        result = "short read at " + std::to_string(offset);
      } else if (std::memcmp(x.data(), y.data(), static_cast<size_t>(n)) != 0) {
        result = "bytes differ in the MiB at " + std::to_string(offset);
      }
      offset += n;
    }
  }
  if (a >= 0) close(a);
  if (b >= 0) close(b);
  return result;
}

bool MarkersIn(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  bool ok = fd >= 0 && fstat(fd, &st) == 0 && st.st_size == kFileSize;
  for (int64_t offset : MarkerOffsets()) {
    std::string block(kMarkerSize, '\0');
    ok = ok && pread(fd, block.data(), block.size(), offset) == kMarkerSize && block == Marker(offset);
  }
  if (fd >= 0) close(fd);
  return ok;
}

int64_t FreeBytes(const std::string& path) {
  struct statvfs st {};
  if (statvfs(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

TEST(LargeFileSlowTest, MoreThanFourGiBUpAndDownByteForByte) {
  test::PureFtpdServer server;
  const std::string whyNot = server.Unavailable();
  if (!whyNot.empty()) GTEST_SKIP() << whyNot;
  test::TempDir local;
  // The served folder and the local folder share /tmp here; ask for room
  // for both full copies and a margin.
  const int64_t needed = 2 * kFileSize + (int64_t{1} << 30);
  const int64_t free = FreeBytes(local.Path());
  if (free < needed) {
    GTEST_SKIP() << "needs " << (needed >> 20) << " MiB free under " << local.Path() << ", has " << (free >> 20)
                 << " MiB";
  }
  ASSERT_TRUE(server.Start()) << server.Error() << "\n" << server.Log();
  const std::string source = local.File("big.bin");
  const std::string copy = local.File("big.back");
  ASSERT_TRUE(MakeSparseFile(source));

  test::ScopedLoop loop;
  g_blnConnecting = false;
  SharedErrorRecord().Clear();
  FtpLibrary ftp;
  ftp.SetLanguage(0);
  ftp.SetKeepConnSecond(0);
  ftp.SetServerName(CEncrypt().EncryptSiteInfo(server.Host(), "base64"));
  ftp.SetRemotePort(server.Port());
  ftp.SetUserName(CEncrypt().EncryptSiteInfo(server.User(), "base64"));
  ftp.SetPassWord(CEncrypt().EncryptSiteInfo(server.Password(), "base64"));
  double lastProgress = 0;
  bool progressWentBack = false;
  ftp.OnTransfer = [&] {
    if (ftp.TransferSize() < lastProgress) progressWentBack = true;
    lastProgress = ftp.TransferSize();
  };

  auto started = std::chrono::steady_clock::now();
  ftp.SetLocalPath(source);
  ftp.SetRemotePath("/big.bin");
  ASSERT_TRUE(ftp.UpLoad()) << ftp.ErrorNumber() << " " << ftp.ErrorInfo();
  std::printf("upload: %.1f s\n", Seconds(started));
  EXPECT_EQ(static_cast<int64_t>(ftp.FileSize()), kFileSize);
  EXPECT_EQ(static_cast<int64_t>(lastProgress), kFileSize);
  EXPECT_FALSE(progressWentBack);
  EXPECT_EQ(static_cast<int64_t>(ftp.GetRemoteFileSize("/big.bin")), kFileSize);
  // The download below is compared in full, so both ways are checked there.
  EXPECT_TRUE(MarkersIn(server.LocalPath("big.bin")));

  lastProgress = 0;
  started = std::chrono::steady_clock::now();
  ftp.SetRemotePath("/big.bin");
  ftp.SetLocalPath(copy);
  ASSERT_TRUE(ftp.DownLoad()) << ftp.ErrorNumber() << " " << ftp.ErrorInfo();
  std::printf("download: %.1f s\n", Seconds(started));
  EXPECT_EQ(static_cast<int64_t>(lastProgress), kFileSize);
  EXPECT_FALSE(progressWentBack);
  EXPECT_EQ(ftp.Percent(), 100);
  ftp.CloseConnection();

  std::filesystem::remove(server.LocalPath("big.bin"));
  EXPECT_EQ(Compare(source, copy), "");
  EXPECT_TRUE(MarkersIn(copy));  // not fooled by two files of zeros
  std::filesystem::remove(copy);
  std::filesystem::remove(source);
}

}  // namespace
}  // namespace pellan
