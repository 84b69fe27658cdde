// The transfer engines against the scripted server on virtual time: the
// progress values, the checks that refuse a file before anything is sent
// (type filters, size limit, local paths), temporary names and the retry
// countdown.
#include <algorithm>
#include <functional>
#include <utility>
#include <string>
#include <tuple>
#include <vector>

#include "support/scratch_state_home.h"
#include "scripted_session.h"

namespace pellan::test {
namespace {

// The server greets and logs in as the first operation connects.
class TransferTest : public ScriptedSession {
 protected:
  TransferTest() { m_server.Login(); }
};

// transferSize, percent, speed, leftTime of one progress event.
using Progress = std::tuple<double, long, long, long>;

std::vector<Progress> ProgressOf(const EventRecorder& events) {
  std::vector<Progress> out;
  for (const ProgressSample& p : events.progress) out.emplace_back(p.transferSize, p.percent, p.speed, p.leftTime);
  return out;
}

TEST_F(TransferTest, DownloadProgressFollowsTheBytesAndShows100OnlyForTheWholeFile) {
  const std::string content = RandomBytes(4000, 21);
  ExpectSize("/p.bin", 4000);
  // One block a second; the fourth leaves 10 bytes (99.75 %) to come.
  ExpectData("RETR /p.bin");
  for (size_t from : {0, 1000, 2000, 3000}) m_server.DataSend(content.substr(from, from < 3000 ? 1000 : 990)).Delay(1s);
  m_server.DataSend(content.substr(3990)).DataClose().Reply("226 Transfer complete.");
  ASSERT_TRUE(Download(*m_ftp, "/p.bin", m_local.File("p.bin"))) << m_ftp->ErrorInfo();
  // The first second only takes a sample; then bytes per second and the
  // seconds left (at least 1 while bytes are missing); all zero at the end.
  EXPECT_THAT(ProgressOf(m_events), ElementsAre(Progress{1000, 25, 0, 0}, Progress{2000, 50, 0, 0},
                                                Progress{3000, 75, 1000, 1}, Progress{3990, 99, 990, 1},
                                                Progress{4000, 100, 10, 1}, Progress{4000, 100, 0, 0}));
}

TEST_F(TransferTest, UploadPercentWaitsForTheLastByte) {
  m_ftp->SetChunkSize(10);
  // Blocks grow to 10 KiB; the last one holds 40 bytes.
  const size_t size = 15360 + 28 * 10240 + 40;
  const std::string content = RandomBytes(size, 22);
  const std::string local = m_local.File("u.bin");
  ASSERT_TRUE(WriteWholeFile(local, content));
  ExpectData("STOR /u.bin").DataReceive().Reply("226 Transfer complete.");
  ASSERT_TRUE(Upload(*m_ftp, local, "/u.bin")) << m_ftp->ErrorInfo();
  EXPECT_TRUE(m_server.Received() == std::vector<std::string>{content});

  for (const ProgressSample& p : m_events.progress) {
    EXPECT_TRUE(p.transferSize == static_cast<double>(size) || p.percent < 100) << p.transferSize;
  }
  EXPECT_EQ(ProgressOf(m_events).back(), (Progress{static_cast<double>(size), 100, 0, 0}));
}

// 1 MiB at 256 KiB a second takes four seconds either way, in pieces the
// loop's timer lets through (no sleeping).
TEST_F(TransferTest, ARateLimitHoldsBothDirectionsToItsBytesPerSecond) {
  m_ftp->SetRateLimit(256 * 1024);
  const std::string content = RandomBytes(1 << 20, 23), local = m_local.File("r.bin");
  ASSERT_TRUE(WriteWholeFile(local, content));
  ExpectData("STOR /r.bin").DataReceive().Reply("226 Transfer complete.");
  Duration start = Elapsed();
  ASSERT_TRUE(Upload(*m_ftp, local, "/r.bin")) << m_ftp->ErrorInfo();
  const Duration up = Elapsed() - start;
  ExpectSize("/r.bin", content.size());
  ExpectData("RETR /r.bin").DataSend(content).DataClose().Reply("226 Transfer complete.");
  start = Elapsed();
  ASSERT_TRUE(Download(*m_ftp, "/r.bin", m_local.File("back.bin"))) << m_ftp->ErrorInfo();
  const Duration down = Elapsed() - start;
  EXPECT_TRUE(m_server.Received().back() == content && ReadWholeFile(m_local.File("back.bin")) == content);
  for (const Duration took : {up, down}) EXPECT_TRUE(took > 3900ms && took < 4100ms) << took.count();
}

// The checks that refuse a file before anything is sent (the size limit,
// the type filters, the local paths, a local file longer than the remote
// one), each next to the file it lets pass. A refused file leaves both sides
// as they were and sends no RETR or STOR.
TEST_F(TransferTest, ChecksBeforeAnythingIsSent) {
  m_server.AnswerByDefault();
  const std::string exact = RandomBytes(1024 * 1024, 25), over = RandomBytes(1024 * 1024 + 1, 26);
  for (const auto& [name, content] : {std::pair{"exact.bin", exact}, {"over.bin", over}, {"c.txt", std::string("text")},
                                      {"d.bin", std::string("binary")}}) {
    ASSERT_TRUE(WriteWholeFile(m_local.File(name), content));
    m_server.SetFile(std::string("/") + name, content);
  }
  ASSERT_TRUE(WriteWholeFile(m_local.File("longer.bin"), exact + "tail"));
  const auto L = [this](const std::string& name) { return m_local.File(name); };
  const auto none = [](FtpLibrary&) {};
  const auto max1 = [](FtpLibrary& f) { f.SetMaxSize(1); };
  const auto allow = [](FtpLibrary& f) { f.SetFileTypeAllow(" *.txt; *.log "); };
  const auto forbid = [](FtpLibrary& f) { f.SetFileTypeForbid("*.bin"); };
  const struct {
    const char* name;
    std::function<void(FtpLibrary&)> set;
    bool upload;
    std::string from, to;
    bool createFolder;
    long error;
    std::string info;
    size_t sent;  // RETR or STOR commands
  } rows[] = {
      {"one byte over the size limit, up", max1, true, L("over.bin"), "/o.bin", true, kErrFileTooBig,
       "Can't transfer files bigger than 1M", 0},
      {"over the size limit by the server's size, down", max1, false, "/over.bin", L("o.bin"), true, kErrFileTooBig, "", 0},
      {"exactly the size limit, up", max1, true, L("exact.bin"), "/e.bin", true, 0, "", 1},
      {"exactly the size limit, down", max1, false, "/exact.bin", L("e.bin"), true, 0, "", 1},
      {"a type not allowed anywhere in the job", allow, true, L("c.txt") + "|" + L("d.bin"), "/in/", true,
       kErrTypeNotAllowed, "This filetype is not allowed.Allowable File Types:[ .txt..log ]", 0},
      {"an allowed type", allow, true, L("c.txt"), "/in.txt", true, 0, "", 1},
      {"a forbidden type", forbid, false, "/d.bin", L("f.bin"), true, kErrTypeForbidden,
       "This filetype is forbidden.Forbidden File Types:[ .bin ]", 0},
      {"a relative local path", none, false, "/c.txt", "rel-target.txt", true, kErrInvalidPath,
       "Invalid Path[ rel-target.txt ]", 0},
      {"a missing folder not to be made", none, false, "/c.txt", L("no/such/"), false, kErrLocalFolderMissing,
       "Can't find the folder[ " + L("no/such") + " ]", 0},
      {"a missing folder to be made", none, false, "/c.txt", L("no/such/"), true, 0, "", 1},
      {"a local file longer than the remote one", none, false, "/exact.bin", L("longer.bin"), true, kErrLocalFileLarger,
       "", 0},
      {"a complete local file is not fetched again", none, false, "/exact.bin", L("exact.bin"), true, 0, "", 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    m_ftp->SetMaxSize(0);
    m_ftp->SetFileTypeAllow("");
    m_ftp->SetFileTypeForbid("");
    r.set(*m_ftp);
    const auto local = ReadTree(m_local.Path());
    const auto remote = m_server.Files();
    const size_t sent = m_events.CountSent("RETR") + m_events.CountSent("STOR");
    m_events.progress.clear();
    EXPECT_EQ(r.upload ? Upload(*m_ftp, r.from, r.to, r.createFolder)
                       : Download(*m_ftp, r.from, r.to, r.createFolder), r.error == 0);
    EXPECT_EQ(m_ftp->ErrorNumber(), r.error) << m_ftp->ErrorInfo();
    EXPECT_EQ(r.info.empty() ? r.info : m_ftp->ErrorInfo(), r.info);
    EXPECT_EQ(m_events.CountSent("RETR") + m_events.CountSent("STOR") - sent, r.sent);
    if (r.error != 0) {
      EXPECT_EQ(ReadTree(m_local.Path()), local);
      EXPECT_EQ(m_server.Files(), remote);
    } else if (r.upload) {
      EXPECT_TRUE(m_server.Files().at(r.to) == ReadWholeFile(r.from));
    } else {
      const std::string path = r.to.back() == '/' ? r.to + r.from.substr(1) : r.to;
      EXPECT_TRUE(ReadWholeFile(path) == remote.at(r.from));
      ASSERT_FALSE(m_events.progress.empty());
      EXPECT_EQ(m_events.progress.back().percent, 100);
      EXPECT_EQ(m_events.progress.back().transferSize, static_cast<double>(remote.at(r.from).size()));
    }
  }
  EXPECT_FALSE(Exists("rel-target.txt"));
}

// With temporary names each file goes up as "_NAME.part" and is renamed
// into place; a file in the way of the rename is deleted first; a server
// that renames nothing gets the rest of the session under final names.
TEST_F(TransferTest, TemporaryNamesAreRenamedIntoPlaceOrGiveWayToFinalNames) {
  m_ftp->SetUploadTempName(true);
  std::string job;
  for (const char* name : {"a", "b", "c", "d"}) {
    ASSERT_TRUE(WriteWholeFile(m_local.File(name), name));
    job += (job.empty() ? "" : "|") + m_local.File(name);
  }
  auto stored = [this](const std::string& path) -> FakeFtpServer& {
    return ExpectData("STOR " + path).DataReceive().Reply("226 Transfer complete.");
  };
  stored("/q/_a.part").Script("RNFR /q/_a.part>350 Ready.|RNTO /q/a>250 Renamed.");
  stored("/q/_b.part").Script("RNFR /q/_b.part>350 Ready.|RNTO /q/b>553 Exists.|DELE /q/b>250 Gone.|"
                              "RNFR /q/_b.part>350 Ready.|RNTO /q/b>250 Renamed.");
  stored("/q/_c.part").Script("RNFR /q/_c.part>550 Permission denied.|DELE /q/_c.part>250 Gone.");
  stored("/q/c");
  stored("/q/d");
  ASSERT_TRUE(Upload(*m_ftp, job, "/q/", false)) << m_ftp->ErrorInfo();
  EXPECT_THAT(m_server.Received(), ElementsAre("a", "b", "c", "c", "d"));
  EXPECT_EQ(m_ftp->RemotePath() + std::to_string(m_events.errors), "/q/0");
}

// A file that keeps failing is tried ReDoTimes times (the script holds the
// three STORs); the host hears of it once, at the first failure: the
// repeats run with OnError off. (The countdown is the short-download test's.)
TEST_F(TransferTest, ReDoTimesRepeatsAFailingFileAndRaisesOnErrorOnce) {
  m_ftp->SetReDoTimes(3);
  ASSERT_TRUE(WriteWholeFile(m_local.File("r.bin"), "never stored"));
  for (int i = 0; i < 3; ++i) ExpectData("STOR /r.bin", "553 Could not create file.");
  EXPECT_FALSE(Upload(*m_ftp, m_local.File("r.bin"), "/r.bin"));
  EXPECT_EQ(std::to_string(m_ftp->ErrorNumber()) + " " + std::to_string(m_events.errors), "16553 1");
}

}  // namespace
}  // namespace pellan::test
