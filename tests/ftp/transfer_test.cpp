// The transfer engines against the scripted server on virtual time: the
// progress values, the file queue, the checks that refuse a file before
// anything is sent (type filters, size limit, local paths), the cancel list
// and the retry countdown.
#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "support/scratch_state_home.h"
#include "scripted_session.h"

namespace pellan::test {
namespace {

using namespace std::chrono_literals;

// The server greets and logs in as the first operation connects.
class TransferTest : public ScriptedSession {
 protected:
  TransferTest() { m_server.Login(); }
};
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

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
  ExpectRetr("/p.bin")
      .DataSend(content.substr(0, 1000))
      .Delay(1s)
      .DataSend(content.substr(1000, 1000))
      .Delay(1s)
      .DataSend(content.substr(2000, 1000))
      .Delay(1s)
      .DataSend(content.substr(3000, 990))
      .Delay(1s)
      .DataSend(content.substr(3990))
      .DataClose()
      .Reply("226 Transfer complete.");
  const std::string local = m_local.File("p.bin");
  ASSERT_TRUE(Download("/p.bin", local)) << m_ftp->ErrorInfo();
  EXPECT_EQ(ReadWholeFile(local), content);
  // The first second only takes a sample; then bytes per second and the
  // seconds left (at least 1 while bytes are missing); all zero at the end.
  EXPECT_THAT(ProgressOf(m_events), ElementsAre(Progress{1000, 25, 0, 0}, Progress{2000, 50, 0, 0},
                                                Progress{3000, 75, 1000, 1}, Progress{3990, 99, 990, 1},
                                                Progress{4000, 100, 10, 1}, Progress{4000, 100, 0, 0}));
  for (const ProgressSample& p : m_events.progress) {
    EXPECT_EQ(p.fileSize, 4000);
    EXPECT_EQ(p.state, "");
    EXPECT_EQ(p.queueIndex, 1);
    EXPECT_EQ(p.queueTotal, 1);
  }
  EXPECT_THAT(m_server.Transcript(),
              ElementsAre("USER user", "PASS pass", "TYPE I", "SIZE /p.bin", "TYPE I", "PASV", "RETR /p.bin"));
  EXPECT_THAT(m_server.Failures(), IsEmpty());
  EXPECT_EQ(m_events.errors, 0);
}

TEST_F(TransferTest, UploadBlocksGrowToTheChunkSizeAndPercentWaitsForTheLastByte) {
  m_ftp->SetChunkSize(10);
  // 1024 + 2048 + 4096 + 8192, then blocks of 10240, and 40 bytes last.
  const size_t size = 15360 + 28 * 10240 + 40;
  const std::string content = RandomBytes(size, 22);
  const std::string local = m_local.File("u.bin");
  ASSERT_TRUE(WriteWholeFile(local, content));
  ExpectStor("/u.bin").DataReceive().Reply("226 Transfer complete.");
  ASSERT_TRUE(Upload(local, "/u.bin")) << m_ftp->ErrorInfo();
  ASSERT_EQ(m_server.Received().size(), 1u);
  EXPECT_TRUE(m_server.Received()[0] == content);

  std::vector<double> blocks;
  double last = 0;
  for (const ProgressSample& p : m_events.progress) {
    if (p.transferSize > last) blocks.push_back(p.transferSize - last);
    last = p.transferSize;
    EXPECT_EQ(p.fileSize, static_cast<double>(size));
    if (p.transferSize < static_cast<double>(size)) {
      EXPECT_LT(p.percent, 100) << p.transferSize;
    }
  }
  ASSERT_GE(blocks.size(), 6u);
  EXPECT_THAT(std::vector<double>(blocks.begin(), blocks.begin() + 6), ElementsAre(1024, 2048, 4096, 8192, 10240, 10240));
  EXPECT_EQ(*std::max_element(blocks.begin(), blocks.end()), 10240);
  EXPECT_EQ(blocks.back(), 40);
  EXPECT_THAT(ProgressOf(m_events), Contains(Progress{static_cast<double>(size - 40), 99, 0, 0}));
  EXPECT_EQ(ProgressOf(m_events).back(), (Progress{static_cast<double>(size), 100, 0, 0}));
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

TEST_F(TransferTest, FileQueueFetchesEachFileIntoTheNamedFolder) {
  m_server.AnswerByDefault();
  m_server.SetFile("/q1", "first");
  m_server.SetFile("/q2", RandomBytes(3000, 23));
  m_server.SetFile("/q3", "");
  const std::string target = m_local.File("queue/");
  ASSERT_TRUE(Download("/q1|/q2|/q3", target)) << m_ftp->ErrorInfo();
  for (const char* name : {"q1", "q2", "q3"}) {
    EXPECT_EQ(ReadWholeFile(m_local.File(std::string("queue/") + name)), m_server.Files().at(std::string("/") + name));
  }
  std::vector<std::pair<long, long>> positions;
  for (const ProgressSample& p : m_events.progress) {
    if (positions.empty() || positions.back() != std::make_pair(p.queueIndex, p.queueTotal)) {
      positions.emplace_back(p.queueIndex, p.queueTotal);
    }
  }
  EXPECT_THAT(positions, ElementsAre(std::pair{1L, 3L}, std::pair{2L, 3L}, std::pair{3L, 3L}));
  EXPECT_EQ(m_events.CountSent("SIZE"), 3u);
}

TEST_F(TransferTest, ACompleteLocalFileIsNotFetchedAgainAndALongerOneIsLeftAlone) {
  m_server.AnswerByDefault();
  const std::string content = RandomBytes(2000, 24);
  m_server.SetFile("/c.bin", content);
  const std::string done = m_local.File("done.bin");
  ASSERT_TRUE(WriteWholeFile(done, content));
  ASSERT_TRUE(Download("/c.bin", done)) << m_ftp->ErrorInfo();
  EXPECT_EQ(m_events.CountSent("RETR"), 0u);
  ASSERT_EQ(m_events.progress.size(), 1u);
  EXPECT_EQ(m_events.progress[0].percent, 100);
  EXPECT_EQ(m_events.progress[0].transferSize, 2000);

  const std::string longer = m_local.File("longer.bin");
  ASSERT_TRUE(WriteWholeFile(longer, content + "tail"));
  EXPECT_FALSE(Download("/c.bin", longer));
  EXPECT_EQ(m_ftp->ErrorNumber(), kErrLocalFileLarger);
  EXPECT_EQ(ReadWholeFile(longer), content + "tail");
  EXPECT_EQ(m_events.CountSent("RETR"), 0u);
  EXPECT_EQ(m_events.errors, 1);
}

TEST_F(TransferTest, MaxSizeLetsAFileOfExactlyTheLimitPassAndRefusesOneByteMore) {
  m_server.AnswerByDefault();
  m_ftp->SetMaxSize(1);
  const std::string exact = RandomBytes(1024 * 1024, 25), over = RandomBytes(1024 * 1024 + 1, 26);
  ASSERT_TRUE(WriteWholeFile(m_local.File("exact.bin"), exact));
  ASSERT_TRUE(WriteWholeFile(m_local.File("over.bin"), over));

  ASSERT_TRUE(Upload(m_local.File("exact.bin"), "/exact.bin")) << m_ftp->ErrorInfo();
  EXPECT_TRUE(m_server.Files().at("/exact.bin") == exact);
  EXPECT_FALSE(Upload(m_local.File("over.bin"), "/over.bin"));
  EXPECT_EQ(m_ftp->ErrorNumber(), kErrFileTooBig);
  EXPECT_EQ(m_ftp->ErrorInfo(), "Can't transfer files bigger than 1M");
  EXPECT_EQ(m_server.Files().count("/over.bin"), 0u);
  EXPECT_EQ(m_events.CountSent("STOR"), 1u);

  // Downloads are held to the size the server gives.
  m_server.SetFile("/big.bin", over);
  EXPECT_FALSE(Download("/big.bin", m_local.File("big.bin")));
  EXPECT_EQ(m_ftp->ErrorNumber(), kErrFileTooBig);
  EXPECT_FALSE(Exists(m_local.File("big.bin")));
  EXPECT_EQ(m_events.CountSent("RETR"), 0u);
  ASSERT_TRUE(Download("/exact.bin", m_local.File("back.bin"))) << m_ftp->ErrorInfo();
  EXPECT_TRUE(ReadWholeFile(m_local.File("back.bin")) == exact);
  EXPECT_EQ(m_events.errors, 2);
}

TEST_F(TransferTest, TypeFiltersRefuseTheWholeJobBeforeAnythingIsSent) {
  m_server.AnswerByDefault();
  m_ftp->SetFileTypeAllow(" *.txt; *.log ");
  ASSERT_TRUE(WriteWholeFile(m_local.File("c.txt"), "text"));
  ASSERT_TRUE(WriteWholeFile(m_local.File("d.bin"), "binary"));
  EXPECT_FALSE(Upload(m_local.File("c.txt") + "|" + m_local.File("d.bin"), "/in/"));
  EXPECT_EQ(m_ftp->ErrorNumber(), kErrTypeNotAllowed);
  EXPECT_EQ(m_ftp->ErrorInfo(), "This filetype is not allowed.Allowable File Types:[ .txt..log ]");
  EXPECT_THAT(m_server.Transcript(), ElementsAre("USER user", "PASS pass"));
  ASSERT_TRUE(Upload(m_local.File("c.txt"), "/c.txt")) << m_ftp->ErrorInfo();
  EXPECT_EQ(m_server.Files().at("/c.txt"), "text");

  m_ftp->SetFileTypeAllow("");
  m_ftp->SetFileTypeForbid("*.bin");
  m_server.SetFile("/x.bin", "remote");
  EXPECT_FALSE(Download("/x.bin", m_local.File("x.bin")));
  EXPECT_EQ(m_ftp->ErrorNumber(), kErrTypeForbidden);
  EXPECT_EQ(m_ftp->ErrorInfo(), "This filetype is forbidden.Forbidden File Types:[ .bin ]");
  EXPECT_FALSE(Exists(m_local.File("x.bin")));
  EXPECT_EQ(m_events.CountSent("RETR"), 0u);
  EXPECT_EQ(m_server.Files().size(), 2u);
}

TEST_F(TransferTest, CancelledFilesAreSkippedButCountedAndTheListEmptiesAfterTheJob) {
  m_server.AnswerByDefault();
  const std::string one = m_local.File("1.bin"), two = m_local.File("2.bin"), three = m_local.File("3.bin");
  for (const std::string& p : {one, two, three}) ASSERT_TRUE(WriteWholeFile(p, "content of " + p));
  m_ftp->ChangeTransferList(two);  // before the job
  m_ftp->OnTransfer = [&] {
    if (m_ftp->QueueIndex() == 1) m_ftp->ChangeTransferList(three);  // while it runs
    EXPECT_EQ(m_ftp->QueueTotal(), 3);
  };
  ASSERT_TRUE(Upload(one + "|" + two + "|" + three, "/c/")) << m_ftp->ErrorInfo();
  EXPECT_EQ(m_server.Files().at("/c/1.bin"), "content of " + one);
  EXPECT_EQ(m_server.Files().size(), 1u);
  EXPECT_EQ(m_events.CountSent("STOR"), 1u);
  EXPECT_EQ(m_ftp->CanceledFileList(), "");
  EXPECT_EQ(m_ftp->AbortedFileList(), "");
}

TEST_F(TransferTest, ARelativeOrMissingLocalTargetIsRefusedUnlessTheJobMayCreateTheFolder) {
  m_server.AnswerByDefault();
  m_server.SetFile("/f.txt", "remote");
  EXPECT_FALSE(Download("/f.txt", "rel-target.txt"));
  EXPECT_EQ(m_ftp->ErrorInfo(), "Invalid Path[ rel-target.txt ]");
  EXPECT_FALSE(Exists("rel-target.txt"));
  const std::string folder = m_local.File("no/such");
  EXPECT_FALSE(Download("/f.txt", folder + "/", false));
  EXPECT_EQ(m_ftp->ErrorNumber(), kErrLocalFolderMissing);
  EXPECT_EQ(m_ftp->ErrorInfo(), "Can't find the folder[ " + folder + " ]");
  EXPECT_FALSE(Exists(m_local.File("no")));
  EXPECT_EQ(m_events.CountSent("RETR"), 0u);
  ASSERT_TRUE(Download("/f.txt", folder + "/", true)) << m_ftp->ErrorInfo();
  EXPECT_EQ(ReadWholeFile(folder + "/f.txt"), "remote");
}

TEST_F(TransferTest, ReDoTimesThreeTriesAFailingFileThreeTimesWithACountdownBeforeEachRepeat) {
  m_ftp->SetReDoTimes(3);
  const std::string local = m_local.File("r.bin");
  ASSERT_TRUE(WriteWholeFile(local, "never stored"));
  for (int i = 0; i < 3; ++i) {
    m_server.Expect("TYPE I", "200 Type set to I.").Expect("PASV").Pasv().Expect("STOR /r.bin", "553 Could not create file.");
  }
  const Duration before = Elapsed();
  EXPECT_FALSE(Upload(local, "/r.bin"));
  const Duration waited = Elapsed() - before;
  EXPECT_EQ(m_ftp->ErrorNumber(), 16553);
  EXPECT_EQ(m_events.CountSent("STOR"), 3u);
  EXPECT_GE(waited, Duration(20s));
  EXPECT_LT(waited, Duration(21s));

  std::vector<std::string> states;
  for (const ProgressSample& p : m_events.progress) states.push_back(p.state);
  ASSERT_EQ(states.size(), 22u);  // two countdowns of 10 seconds and a notice after each
  const std::string error = "553 Could not create file.[Occur an error, retransfer ";
  EXPECT_EQ(states[0], error + "2 times after 10 second(s)]");
  EXPECT_EQ(states[9], error + "2 times after 1 second(s)]");
  EXPECT_EQ(states[20], error + "3 times after 1 second(s)]");
  EXPECT_EQ(states[21], "Retransfer,please wait ... ");
  EXPECT_THAT(m_events.messages, Contains("2:" + error + "2 times after 10 second(s)](16553)"));
  EXPECT_EQ(m_ftp->TransferState(), "");
  EXPECT_EQ(m_events.errors, 1);  // at the first failure; the repeats run with OnError off
  EXPECT_TRUE(m_server.Received().empty());
  EXPECT_EQ(ReadWholeFile(local), "never stored");
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

}  // namespace
}  // namespace pellan::test
