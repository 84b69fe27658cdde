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
#include <functional>
#include <iterator>
#include <string>

#include "support/error_record_scope.h"
#include "support/scratch_state_home.h"
#include "scripted_session.h"

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

// The server greets and logs in as the first operation connects.
class TransferFaultTest : public ScriptedSession {
 protected:
  TransferFaultTest() { m_server.Login(); }
  // The size of /f.bin asked and its RETR up to the 150.
  FakeFtpServer& Retr() { return ExpectSize("/f.bin", 3000), ExpectData("RETR /f.bin"); }
};
using ::testing::Contains;

// One fault per row, on a download or an upload of 3000 bytes: the error,
// what is left of the file (a download keeps what came, for a resume; an
// upload's source stays whole), nothing counted as done, a time-out that
// ends, and the next command answered by its own reply (after a new login
// where the session is gone).
TEST_F(TransferFaultTest, FaultsFailTheTransferAndLeaveNothingUnderAFalseName) {
  const std::string content = RandomBytes(3000, 31);
  const struct {
    const char* name;
    bool upload;
    std::function<void()> script;
    long error;
    size_t kept;  // bytes of the download on disk; npos: no file
    bool sessionGone;
    Duration from, to;
  } rows[] = {
      {"426 after the data", false, [&] { Retr().Script("<data>", {content}).Delay(100ms).Reply("426 No"); },
       16426, 3000, false, 0s, 1s},
      {"control dropped mid-download", false, [&] { Retr().DataSend(content.substr(0, 2500)).Drop(); },
       kErrConnectionInterrupted, 2500, true, 0s, 1s},
      // More than TimeOut seconds without a byte, seen at the next 5-second tick.
      {"download stalls", false, [&] { Retr().DataSend(content.substr(0, 100)).ExpectClose(); }, kErrTimedOut,
       100, true, 30s, 36s},
      {"refused RETR creates nothing", false,
       [&] { m_server.Script("TYPE I>200 ok|SIZE /f.bin>550 No.|TYPE I>200 ok|PASV|RETR /f.bin>550 No."); },
       16550, std::string::npos, false, 0s, 1s},
      {"421 to STOR", true, [&] { ExpectData("STOR /f.bin", "421 Service not available.").Drop(); }, 16421, 0,
       true, 0s, 1s},
      // Every byte out and no reply at all: the size on the server could be
      // an old copy's, so it is not asked.
      {"no reply after the last byte of an upload", true,
       [&] { ExpectData("STOR /f.bin").DataReceive().ExpectClose(); }, kErrTimedOut, 0, true, 30s, 36s},
      {"226 while the upload still goes out", true, [&] { ExpectData("STOR /f.bin").Reply("226 Done."); },
       kErrIncompleteTransfer, 0, false, 0s, 1s},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    const auto& r = rows[i];
    SCOPED_TRACE(r.name);
    const std::string local = m_local.File(std::to_string(i) + ".bin");
    ASSERT_TRUE(!r.upload || WriteWholeFile(local, content));
    r.script();
    if (r.sessionGone) m_server.Login();
    m_server.Script("DELE /f.bin>550 Denied");
    const int errors = m_events.errors;
    const Duration before = Elapsed();
    EXPECT_FALSE(r.upload ? Upload(*m_ftp, local, "/f.bin") : Download(*m_ftp, "/f.bin", local));
    // The error, raised once, after a time in [from, to].
    EXPECT_EQ(std::to_string(m_ftp->ErrorNumber()) + " " + std::to_string(m_events.errors - errors),
              std::to_string(r.error) + " 1") << m_ftp->ErrorInfo();
    EXPECT_TRUE(Elapsed() - before >= r.from && Elapsed() - before <= r.to) << (Elapsed() - before).count();
    const std::string kept = r.upload ? content : r.kept == std::string::npos ? "none" : content.substr(0, r.kept);
    EXPECT_TRUE((Exists(local) ? ReadWholeFile(local) : "none") == kept);
    EXPECT_FALSE(m_ftp->DeleteFile("/f.bin"));
    EXPECT_EQ(m_ftp->ErrorNumber(), 16550);
  }
}

TEST_F(TransferFaultTest, AShortDownloadEndedWith226IsCaughtByItsSizeAndTheRepeatResumesIt) {
  // The repeat resumes even when the job started with OverWrite on.
  m_ftp->SetReDoTimes(2);
  m_ftp->SetOverWrite(true);
  const std::string content = RandomBytes(5000, 32);
  const std::string local = m_local.File("s.bin");
  ASSERT_TRUE(WriteWholeFile(local, "an older version of the file"));
  ExpectSize("/s.bin", 5000);
  ExpectData("RETR /s.bin").Script("<data>|226 Transfer complete.", {content.substr(0, 3000)});
  ExpectSize("/s.bin", 5000)
      .Script("TYPE I>200 ok|PASV|REST 3000>350 Restarting at 3000.|RETR /s.bin>150 ok|<data>|226 ok",
              {content.substr(3000)});
  const Duration before = Elapsed();
  ASSERT_TRUE(Download(*m_ftp, "/s.bin", local)) << m_ftp->ErrorInfo();
  EXPECT_GE(Elapsed() - before, Duration(10s));
  EXPECT_TRUE(ReadWholeFile(local) == content);
  EXPECT_THAT(m_events.messages,
              Contains("2:The server sent 3000 of 5000 bytes of [ /s.bin ][Occur an error, retransfer 1 times after 10 "
                       "second(s)](20033)"));
  EXPECT_FALSE(m_ftp->OverWrite());
}

TEST_F(TransferFaultTest, OverWriteKeepsTheOldFileUntilDataComesAndNeverWritesThroughALinkOrAFifo) {
  // With OverWrite it leaves the old file whole, and the repeat still
  // replaces it from byte 0, leaving no stale tail.
  m_ftp->SetReDoTimes(2);
  m_ftp->SetOverWrite(true);
  const std::string old = m_local.File("old.bin");
  const std::string before = RandomBytes(5000, 38), content = RandomBytes(3000, 39);
  ASSERT_TRUE(WriteWholeFile(old, before));
  ExpectSize("/old.bin", 3000);
  ExpectData("RETR /old.bin", "550 Permission denied.");
  m_server.Script("TYPE I>200 Type set to I.")
      .Do([&] { EXPECT_TRUE(ReadWholeFile(old) == before); }, "the old file is whole")
      .Script("SIZE /old.bin>213 3000");
  ExpectData("RETR /old.bin").DataSend(content).DataClose().Reply("226 Transfer complete.");
  ASSERT_TRUE(Download(*m_ftp, "/old.bin", old)) << m_ftp->ErrorInfo();
  EXPECT_TRUE(ReadWholeFile(old) == content);

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
      EXPECT_FALSE(Download(*m_ftp, "/t.bin", target)) << target << overWrite;
      EXPECT_EQ(m_ftp->ErrorNumber(), kErrOpenLocalFile) << target << overWrite;
    }
  }
  // With a reader the FIFO opens, and is still no file.
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  EXPECT_FALSE(Download(*m_ftp, "/t.bin", fifo));
  close(reader);
  EXPECT_EQ(ReadWholeFile(outside), "keep me");
  struct stat st {};
  EXPECT_TRUE(lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
  EXPECT_TRUE(lstat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
  EXPECT_EQ(m_events.CountSent("RETR"), 2u);
}

TEST_F(TransferFaultTest, AFailedFsyncOrCloseOfTheDownloadedFileFailsTheDownload) {
  m_ftp->SetSyncDownloads(true);
  m_server.AnswerByDefault();
  m_server.SetFile("/s.bin", "synced");
  const std::string folder = std::filesystem::canonical(m_local.Path()).string();
  for (const char* call : {"fsync", "close"}) {
    const std::string local = folder + "/" + call + ".bin";
    std::snprintf(g_failingPath, sizeof g_failingPath, "%s", local.c_str());
    g_failingCall = call;
    EXPECT_FALSE(Download(*m_ftp, "/s.bin", local)) << call;
    g_failingCall = nullptr;
    EXPECT_EQ(m_ftp->ErrorNumber(), kErrOpenLocalFile) << call;
    EXPECT_THAT(m_ftp->ErrorInfo(), HasSubstr(std::string(call) + ": Input/output error"));
  }
}

TEST_F(TransferFaultTest, AFailedFolderJobLeavesNoListedSizeToTheNextDownload) {
  m_server.AnswerByDefault();
  m_server.SetListing(Line('-', 3000, "a.bin"));
  EXPECT_FALSE(Download(*m_ftp, "/d/", m_local.File("in/")));  // RETR /d/a.bin: 550
  const std::string content = RandomBytes(5000, 40), local = m_local.File("q.bin");
  m_server.SetFile("/q.bin", content);
  ASSERT_TRUE(WriteWholeFile(local, content.substr(0, 3000)));
  ASSERT_TRUE(Download(*m_ftp, "/q.bin", local)) << m_ftp->ErrorInfo();
  EXPECT_EQ(m_events.CountSent("REST 3000"), 1u);
  EXPECT_TRUE(ReadWholeFile(local) == content);
}

TEST_F(TransferFaultTest, AFolderDownloadFetchesOnlyPlainNamesExactlyAsListedAndSkipsLinks) {
  ErrorRecordScope log;
  m_server.AnswerByDefault();
  m_server.SetFile("/d/Rb.txt", "plain");
  m_server.SetListing(Line('d', 0, "..\\..\\out") + Line('d', 0, "..") + Line('-', 5, "..\\x.txt") +
                      Line('-', 5, "Rb.txt ") + Line('-', 5, " Rb.txt") + Line('-', 5, "Rb.txt") +
                      Line('l', 6, "Rl.txt -> Rb.txt"));
  ASSERT_TRUE(Download(*m_ftp, "/d/", m_local.File("a/b/in/"))) << m_ftp->ErrorInfo();
  EXPECT_EQ(ReadTree(m_local.Path()), (Tree{
                                          {"a/", ""}, {"a/b/", ""}, {"a/b/in/", ""}, {"a/b/in/Rb.txt", "plain"}}));
  EXPECT_EQ(m_events.CountSent("RETR"), 1u);
  for (const char* skipped : {"an unsafe name: ..\\..\\out", "an unsafe name: Rb.txt ", "an unsafe name:  Rb.txt",
                              "a link: Rl.txt"}) {
    EXPECT_THAT(log.Log(), HasSubstr(std::string("skips ") + skipped));
  }
}

TEST_F(TransferFaultTest, AFolderRemovedOnTheServerIsMadeAgainWhenAStorIntoItIsRefused) {
  m_ftp->SetReDoTimes(2);
  const std::string local = m_local.File("a.bin");
  ASSERT_TRUE(WriteWholeFile(local, "aaa"));
  for (const char* refused : {"", "TYPE I>200 ok|PASV|STOR /d/a.bin>553 Could not create file.|"}) {
    m_server.Script(std::string(refused) +
                    "MKD /d>257 \"/d\" created.|TYPE I>200 ok|PASV|STOR /d/a.bin>150 ok");
    m_server.DataReceive().Reply("226 Transfer complete.");
  }
  ASSERT_TRUE(Upload(*m_ftp, local, "/d/a.bin")) << m_ftp->ErrorInfo();
  ASSERT_TRUE(Upload(*m_ftp, local, "/d/a.bin")) << m_ftp->ErrorInfo();
}

}  // namespace
}  // namespace pellan::test
