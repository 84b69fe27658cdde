// Transfers that go wrong, one fault at a time, on the scripted server and
// virtual time: what the engine answers, and what is left on disk and on
// the server afterwards.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "support/error_record_scope.h"
#include "support/scratch_state_home.h"
#include "transfer_fake_fixture.h"

// fsync or close of one file fails as on a failing disk (the engine is
// linked into this program, so it calls these).
namespace {
const char* g_failingCall = nullptr;
char g_failingPath[4096];
bool Fails(int fd, const char* call) {
  char link[64], target[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = g_failingCall && std::strcmp(g_failingCall, call) == 0 ? readlink(link, target, 4095) : -1;
  return n > 0 && std::string(target, static_cast<size_t>(n)) == g_failingPath;
}
}  // namespace

extern "C" int fsync(int fd) { return Fails(fd, "fsync") ? (errno = EIO, -1) : static_cast<int>(syscall(SYS_fsync, fd)); }
extern "C" int close(int fd) {
  const bool fail = Fails(fd, "close");
  const int rc = static_cast<int>(syscall(SYS_close, fd));
  return fail ? (errno = EIO, -1) : rc;
}

namespace pellan::test {
namespace {

using namespace std::chrono_literals;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

TEST_F(FakeTransferTest, A426AfterTheDataClosedFailsTheDownloadAndKeepsTheBytesForAResume) {
  const std::string content = RandomBytes(3000, 31);
  ExpectSize("/f.bin", 3000);
  ExpectRetr("/f.bin").DataSend(content).DataClose().Delay(100ms).Reply("426 Connection closed; transfer aborted.");
  const std::string local = m_local.File("f.bin");
  EXPECT_FALSE(Download("/f.bin", local));
  EXPECT_EQ(m_ftp->ErrorNumber(), 16426);
  EXPECT_EQ(m_ftp->ErrorInfo(), "426 Connection closed; transfer aborted.");
  EXPECT_EQ(m_events.errors, 1);
  EXPECT_TRUE(ReadWholeFile(local) == content);  // every byte, but unconfirmed: kept, not counted
  EXPECT_TRUE(m_server.Received().empty());
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

TEST_F(FakeTransferTest, AShortDownloadEndedWith226IsCaughtByItsSizeAndTheRepeatResumesIt) {
  // The repeat resumes even when the job started with OverWrite on.
  m_ftp->SetReDoTimes(2);
  m_ftp->SetOverWrite(true);
  const std::string content = RandomBytes(5000, 32);
  const std::string local = m_local.File("s.bin");
  ASSERT_TRUE(WriteWholeFile(local, "an older version of the file"));
  ExpectSize("/s.bin", 5000);
  ExpectRetr("/s.bin").DataSend(content.substr(0, 3000)).DataClose().Reply("226 Transfer complete.");
  ExpectSize("/s.bin", 5000);
  m_server.Expect("TYPE I", "200 Type set to I.")
      .Expect("PASV")
      .Pasv()
      .Expect("REST 3000", "350 Restarting at 3000.")
      .Expect("RETR /s.bin", "150 Opening data connection.")
      .DataSend(content.substr(3000))
      .DataClose()
      .Reply("226 Transfer complete.");
  const Duration before = Elapsed();
  ASSERT_TRUE(Download("/s.bin", local)) << m_ftp->ErrorInfo();
  EXPECT_GE(Elapsed() - before, Duration(10s));
  EXPECT_TRUE(ReadWholeFile(local) == content);
  EXPECT_THAT(m_events.messages,
              Contains("2:The server sent 3000 of 5000 bytes of [ /s.bin ][Occur an error, retransfer 1 times after 10 "
                       "second(s)](20033)"));
  EXPECT_FALSE(m_ftp->OverWrite());
  EXPECT_EQ(m_events.CountSent("RETR"), 2u);
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

TEST_F(FakeTransferTest, ARefusedStorIsNotRepeatedAndLeavesNothingOnTheServer) {
  const std::string b = m_local.File("b.bin"), c = m_local.File("c.bin");
  ASSERT_TRUE(WriteWholeFile(b, "bbb"));
  ASSERT_TRUE(WriteWholeFile(c, "ccc"));
  m_server.Expect("TYPE I", "200 Type set to I.")
      .Expect("PASV")
      .Pasv()
      .Expect("STOR /b.bin", "421 Service not available, closing control connection.")
      .Drop();
  EXPECT_FALSE(Upload(b, "/b.bin"));
  EXPECT_EQ(m_ftp->ErrorNumber(), 16421);
  EXPECT_EQ(m_events.errors, 1);
  EXPECT_EQ(m_events.CountSent("STOR"), 1u);
  EXPECT_TRUE(m_server.Received().empty());
  EXPECT_EQ(ReadWholeFile(b), "bbb");

  // The server closed the session: the next job logs in again.
  m_server.Login().AnswerByDefault();
  ASSERT_TRUE(Upload(c, "/c.bin")) << m_ftp->ErrorInfo();
  EXPECT_EQ(m_server.Files().at("/c.bin"), "ccc");
  EXPECT_EQ(m_server.Files().size(), 1u);
  EXPECT_EQ(m_server.ConnectionCount(), 2);
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

TEST_F(FakeTransferTest, ADownloadThatStallsFailsWithTheTimeOutAndKeepsWhatCame) {
  const std::string content = RandomBytes(1000, 33);
  ExpectSize("/t.bin", 1000);
  // The late end of the transfer must not answer the next command.
  ExpectRetr("/t.bin").DataSend(content.substr(0, 100)).ExpectClose().Login().Expect("DELE /t.bin", "550 Denied");
  const std::string local = m_local.File("t.bin");
  const Duration before = Elapsed();
  EXPECT_FALSE(Download("/t.bin", local));
  const Duration waited = Elapsed() - before;
  EXPECT_EQ(m_ftp->ErrorNumber(), kErrTimedOut);
  EXPECT_EQ(m_ftp->ErrorInfo(), "Operation timed out");
  // More than TimeOut seconds without a byte, seen at the next 5-second tick.
  EXPECT_GT(waited, Duration(30s));
  EXPECT_LE(waited, Duration(36s));
  EXPECT_TRUE(ReadWholeFile(local) == content.substr(0, 100));
  EXPECT_EQ(m_events.errors, 1);
  EXPECT_FALSE(m_ftp->DeleteFile("/t.bin"));
  EXPECT_EQ(m_ftp->ErrorNumber(), 16550);
  EXPECT_EQ(m_server.ConnectionCount(), 2);
}

TEST_F(FakeTransferTest, AnUploadCountsOnlyWhenTheServerConfirmsItAfterTheLastByte) {
  // Every byte out and no reply at all: the size on the server could be an
  // old copy's, so it is not asked. Then a 226 while the file is still
  // going out.
  const std::string content = RandomBytes(4 * 1024 * 1024, 34);
  const std::string local = m_local.File("n.bin");
  ASSERT_TRUE(WriteWholeFile(local, content));
  ExpectStor("/n.bin").DataReceive().ExpectClose().Login();
  const Duration before = Elapsed();
  EXPECT_FALSE(Upload(local, "/n.bin"));
  EXPECT_GE(Elapsed() - before, Duration(30s));
  EXPECT_EQ(m_ftp->ErrorNumber(), kErrTimedOut);
  EXPECT_TRUE(m_server.Received().back() == content);

  ExpectStor("/n.bin").Reply("226 Transfer complete.");
  EXPECT_FALSE(Upload(local, "/n.bin"));
  EXPECT_EQ(m_ftp->ErrorNumber(), kErrIncompleteTransfer);
  EXPECT_EQ(m_events.CountSent("SIZE"), 0u);
  EXPECT_TRUE(ReadWholeFile(local) == content);
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

TEST_F(FakeTransferTest, AControlConnectionDroppedInTheMiddleOfADownloadLeavesAResumableFile) {
  const std::string content = RandomBytes(6000, 36);
  ExpectSize("/d.bin", 6000);
  ExpectRetr("/d.bin").DataSend(content.substr(0, 2500)).Drop();
  const std::string local = m_local.File("d.bin");
  EXPECT_FALSE(Download("/d.bin", local));
  EXPECT_EQ(m_ftp->ErrorNumber(), kErrConnectionInterrupted);
  EXPECT_FALSE(m_ftp->Connected());
  EXPECT_TRUE(ReadWholeFile(local) == content.substr(0, 2500));
  EXPECT_EQ(m_events.errors, 1);
}

TEST_F(FakeTransferTest, TheLocalFileIsTouchedOnlyWhenDataComesAndNeverThroughALinkOrAFifo) {
  // A refused RETR creates nothing.
  const std::string fresh = m_local.File("new.bin");
  m_server.Expect("TYPE I", "200 Type set to I.").Expect("SIZE /new.bin", "550 No such file.");
  m_server.Expect("TYPE I", "200 Type set.").Expect("PASV").Pasv().Expect("RETR /new.bin", "550 No such file.");
  EXPECT_FALSE(Download("/new.bin", fresh));
  EXPECT_EQ(m_ftp->ErrorNumber(), 16550);
  EXPECT_FALSE(Exists(fresh));

  // With OverWrite it leaves the old file whole, and the repeat still
  // replaces it from byte 0, leaving no stale tail.
  m_ftp->SetReDoTimes(2);
  m_ftp->SetOverWrite(true);
  const std::string old = m_local.File("old.bin");
  const std::string before = RandomBytes(5000, 38), content = RandomBytes(3000, 39);
  ASSERT_TRUE(WriteWholeFile(old, before));
  ExpectSize("/old.bin", 3000);
  m_server.Expect("TYPE I", "200 Type set.").Expect("PASV").Pasv().Expect("RETR /old.bin", "550 Permission denied.");
  m_server.Expect("TYPE I", "200 Type set to I.")
      .Do([&] { EXPECT_TRUE(ReadWholeFile(old) == before); }, "the old file is whole")
      .Expect("SIZE /old.bin", "213 3000");
  ExpectRetr("/old.bin").DataSend(content).DataClose().Reply("226 Transfer complete.");
  ASSERT_TRUE(Download("/old.bin", old)) << m_ftp->ErrorInfo();
  EXPECT_TRUE(ReadWholeFile(old) == content);
  EXPECT_EQ(m_events.CountSent("REST"), 0u);
  EXPECT_THAT(m_server.Failures(), IsEmpty());

  // A link is not followed and a FIFO does not stop the process.
  m_ftp->SetReDoTimes(1);
  m_server.AnswerByDefault();
  m_server.SetFile("/t.bin", content);
  const std::string outside = m_local.File("out.bin"), link = m_local.File("link.bin"), fifo = m_local.File("fifo");
  ASSERT_TRUE(WriteWholeFile(outside, "keep me"));
  ASSERT_EQ(symlink(outside.c_str(), link.c_str()), 0);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  for (const std::string& target : {link, fifo}) {
    for (const bool overWrite : {false, true}) {
      m_ftp->SetOverWrite(overWrite);
      EXPECT_FALSE(Download("/t.bin", target)) << target << overWrite;
      EXPECT_EQ(m_ftp->ErrorNumber(), kErrOpenLocalFile) << target << overWrite;
    }
  }
  // With a reader the FIFO opens, and is still no file.
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  EXPECT_FALSE(Download("/t.bin", fifo));
  close(reader);
  EXPECT_EQ(ReadWholeFile(outside), "keep me");
  struct stat st {};
  EXPECT_TRUE(lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
  EXPECT_TRUE(lstat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
  EXPECT_EQ(m_events.CountSent("RETR"), 3u);
}

TEST_F(FakeTransferTest, AFailedFsyncOrCloseOfTheDownloadedFileFailsTheDownload) {
  m_ftp->SetSyncDownloads(true);
  m_server.AnswerByDefault();
  m_server.SetFile("/s.bin", "synced");
  const std::string folder = std::filesystem::canonical(m_local.Path()).string();
  for (const char* call : {"fsync", "close"}) {
    const std::string local = folder + "/" + call + ".bin";
    std::snprintf(g_failingPath, sizeof g_failingPath, "%s", local.c_str());
    g_failingCall = call;
    EXPECT_FALSE(Download("/s.bin", local)) << call;
    g_failingCall = nullptr;
    EXPECT_EQ(m_ftp->ErrorNumber(), kErrOpenLocalFile) << call;
    EXPECT_THAT(m_ftp->ErrorInfo(), HasSubstr(std::string(call) + ": Input/output error"));
  }
}

TEST_F(FakeTransferTest, AFailedFolderJobLeavesNoListedSizeToTheNextDownload) {
  m_server.AnswerByDefault();
  m_server.SetListing("-rw-r--r--    1 ftp      ftp            3000 Jan 01 00:00 a.bin\r\n");
  EXPECT_FALSE(Download("/d/", m_local.File("in/")));  // RETR /d/a.bin: 550
  const std::string content = RandomBytes(5000, 40), local = m_local.File("q.bin");
  m_server.SetFile("/q.bin", content);
  ASSERT_TRUE(WriteWholeFile(local, content.substr(0, 3000)));
  ASSERT_TRUE(Download("/q.bin", local)) << m_ftp->ErrorInfo();
  EXPECT_TRUE(m_events.Sent("REST 3000"));
  EXPECT_TRUE(ReadWholeFile(local) == content);
}

TEST_F(FakeTransferTest, AFolderDownloadFetchesOnlyPlainNamesExactlyAsListedAndSkipsLinks) {
  ErrorRecordScope log;
  m_server.AnswerByDefault();
  m_server.SetFile("/d/Rb.txt", "plain");
  m_server.SetListing(
      "drwxr-xr-x    2 ftp      ftp               0 Jan 01 00:00 ..\\..\\out\r\n"
      "drwxr-xr-x    2 ftp      ftp               0 Jan 01 00:00 ..\r\n"
      "-rw-r--r--    1 ftp      ftp               5 Jan 01 00:00 ..\\x.txt\r\n"
      "-rw-r--r--    1 ftp      ftp               5 Jan 01 00:00 Rb.txt \r\n"
      "-rw-r--r--    1 ftp      ftp               5 Jan 01 00:00  Rb.txt\r\n"
      "-rw-r--r--    1 ftp      ftp               5 Jan 01 00:00 Rb.txt\r\n"
      "lrwxrwxrwx    1 ftp      ftp               6 Jan 01 00:00 Rl.txt -> Rb.txt\r\n");
  ASSERT_TRUE(Download("/d/", m_local.File("a/b/in/"))) << m_ftp->ErrorInfo();
  EXPECT_EQ(ReadTree(m_local.Path()), (std::map<std::string, std::string>{
                                          {"a/", ""}, {"a/b/", ""}, {"a/b/in/", ""}, {"a/b/in/Rb.txt", "plain"}}));
  EXPECT_EQ(m_events.CountSent("RETR"), 1u);
  EXPECT_THAT(log.Log(), HasSubstr("skips an unsafe name: ..\\..\\out"));
  EXPECT_THAT(log.Log(), HasSubstr("skips an unsafe name: Rb.txt "));
  EXPECT_THAT(log.Log(), HasSubstr("skips an unsafe name:  Rb.txt"));
  EXPECT_THAT(log.Log(), HasSubstr("skips a link: Rl.txt"));
}

TEST_F(FakeTransferTest, AFolderRemovedOnTheServerIsMadeAgainWhenAStorIntoItIsRefused) {
  m_ftp->SetReDoTimes(2);
  const std::string local = m_local.File("a.bin");
  ASSERT_TRUE(WriteWholeFile(local, "aaa"));
  m_server.Expect("MKD /d", "257 \"/d\" created.");
  ExpectStor("/d/a.bin").DataReceive().Reply("226 Transfer complete.");
  m_server.Expect("TYPE I", "200 Type set to I.").Expect("PASV").Pasv().Expect("STOR /d/a.bin", "553 Could not create file.");
  m_server.Expect("MKD /d", "257 \"/d\" created.");
  ExpectStor("/d/a.bin").DataReceive().Reply("226 Transfer complete.");
  ASSERT_TRUE(Upload(local, "/d/a.bin")) << m_ftp->ErrorInfo();
  ASSERT_TRUE(Upload(local, "/d/a.bin")) << m_ftp->ErrorInfo();
  EXPECT_EQ(m_events.CountSent("MKD"), 2u);
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

}  // namespace
}  // namespace pellan::test
