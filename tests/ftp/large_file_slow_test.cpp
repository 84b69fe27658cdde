// A file past 4 GiB up to a real server and back: sizes, offsets and
// progress counts must not wrap at 32 bits anywhere on the way. The local
// file is sparse with blocks that differ by position at the start, across
// 4 GiB and at the tail; the copies are not sparse, so the test first
// makes sure the disk has room for them.
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/socket_support.h"
#include "support/scratch_state_home.h"
#include "transfer_helpers.h"

namespace pellan::test {
namespace {

constexpr int64_t kFourGiB = int64_t{4} << 30;
constexpr int64_t kFileSize = kFourGiB + 12345;
constexpr int64_t kMarkerSize = 8 * 1024;

std::string Marker(int64_t offset) {
  std::string block(kMarkerSize, '\0');
  for (int64_t i = 0; i < kMarkerSize; ++i) block[i] = static_cast<char>((static_cast<uint64_t>(offset + i) * 2654435761u >> 24) | 1);
  return block;
}

// Writes the markers (`write`) or compares them; the size must be right too.
bool Markers(const std::string& path, bool write) {
  const int fd = open(path.c_str(), write ? O_WRONLY | O_CREAT | O_TRUNC : O_RDONLY, 0644);
  bool ok = fd >= 0 && (write ? ftruncate(fd, kFileSize) == 0 : lseek(fd, 0, SEEK_END) == kFileSize);
  for (int64_t offset : {int64_t{0}, kFourGiB - kMarkerSize / 2, kFileSize - kMarkerSize}) {
    std::string block = Marker(offset);
    ok = ok && (write ? pwrite(fd, block.data(), block.size(), offset) : pread(fd, block.data(), block.size(), offset)) ==
                   kMarkerSize && block == Marker(offset);
  }
  return fd >= 0 && close(fd) == 0 && ok;
}

TEST(LargeFileSlowTest, MoreThanFourGiBUpAndDown) {
  RealFtpServer server(FtpServerKind::kPureFtpd);  // the fastest of the three
  TempDir local;
  struct statvfs st {};
  const int64_t needed = 2 * kFileSize + (int64_t{1} << 30);  // both copies share /tmp here
  if (statvfs(local.Path().c_str(), &st) == 0 && static_cast<int64_t>(st.f_bavail) * st.f_frsize < needed) {
    GTEST_SKIP() << "needs " << (needed >> 20) << " MiB free under " << local.Path();
  }
  PELLAN_START_FTP_SERVER_OR_SKIP(server);
  ASSERT_TRUE(Markers(local.File("big.bin"), true));
  ScopedLoop loop;
  auto ftp = RealControl(server);
  ftp->SetKeepConnSecond(0);
  double last = 0;
  bool wentBack = false;
  ftp->OnTransfer = [&] {
    wentBack |= ftp->TransferSize() < last;
    last = ftp->TransferSize();
  };

  ASSERT_TRUE(Upload(*ftp, local.File("big.bin"), "/big.bin"))
      << ftp->ErrorNumber() << " " << ftp->ErrorInfo();
  EXPECT_EQ(static_cast<int64_t>(ftp->FileSize()), kFileSize);
  EXPECT_EQ(static_cast<int64_t>(last), kFileSize);
  EXPECT_EQ(static_cast<int64_t>(ftp->GetRemoteFileSize("/big.bin")), kFileSize);
  EXPECT_TRUE(Markers(server.LocalPath("big.bin"), false));
  std::filesystem::remove(local.File("big.bin"));

  last = 0;
  ASSERT_TRUE(Download(*ftp, "/big.bin", local.File("back.bin")))
      << ftp->ErrorNumber() << " " << ftp->ErrorInfo();
  EXPECT_EQ(static_cast<int64_t>(last), kFileSize);
  EXPECT_EQ(ftp->Percent(), 100);
  EXPECT_FALSE(wentBack);
  ftp->CloseConnection();
  std::filesystem::remove(server.LocalPath("big.bin"));
  EXPECT_TRUE(Markers(local.File("back.bin"), false));
}

}  // namespace
}  // namespace pellan::test
