// The folder pass against the scripted FTP server on the test clock: what
// goes up and is deleted locally, what comes down through ".tmp", the
// 120-second window for replies and the clean-up before the next batch, and
// the faults after which both sides must still hold every file.
#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client_fixture.h"
#include "support/fake_ftp_server.h"

namespace pellan::client::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using pellan::test::FakeFtpServer;

class FolderPassTest : public ClientTest {
 protected:
  FolderPassTest() {
    m_quietPasses = false;
    m_server.Login("user", "pass").AnswerByDefault();
  }

  // Logs in with logging on; every pass first gives the scripted server the
  // "data/R*" listing as its files stand (plus `m_extraListing`), then scans
  // the local folder as the pass does.
  bool LoggedIn() {
    Put("plnrc.log", "");
    WriteSite(m_server.Port());
    frmTLVFTP& f = Form();
    f.FolderPass = [this] {
      m_server.SetListing(Listing());
      ++m_passes;
      m_localAtPass.push_back(LocalNames());
      frmTLVFTP& form = Form();
      form.m_dtLastActive = Moment::Now();
      if (form.m_blnRunning) form.ScanFolder(DataFolder());
    };
    if (!f.Form_Load()) return false;
    return RunUntil([&] { return f.LoginCaption() == "停    止"; }, 60s);
  }
  // Runs passes until `done` holds (virtual time).
  bool PassesUntil(const std::function<bool()>& done, Duration timeout = 60s) { return RunUntil(done, timeout); }
  bool RunPasses(int count) {
    const int target = m_passes + count;
    return RunUntil([&] { return m_passes >= target; }, 60s);
  }

  std::string Listing() const {
    std::string body = m_extraListing;
    for (const auto& [name, content] : m_server.Files()) {
      if (name.rfind("data/R", 0) != 0) continue;
      char line[128];
      const auto claimed = m_claimed.find(name.substr(5));
      snprintf(line, sizeof line, "-rw-r--r--    1 ftp      ftp      %10zu Jan 01 00:00 ",
               claimed == m_claimed.end() ? content.size() : claimed->second);
      body += line + name.substr(5) + "\r\n";
    }
    return body;
  }
  bool OnServer(const std::string& name) const { return m_server.Files().count("data/" + name) != 0; }
  std::string ServerFile(const std::string& name) const {
    const auto it = m_server.Files().find("data/" + name);
    return it == m_server.Files().end() ? std::string() : it->second;
  }
  void PutLocal(const std::string& name, const std::string& content) { Put("data/" + name, content); }
  bool Local(const std::string& name) const { return Exists("data/" + name); }
  std::string LocalFile(const std::string& name) const { return Read("data/" + name); }
  std::vector<std::string> LocalNames() const {
    std::vector<std::string> names;
    if (DIR* d = opendir(DataFolder().c_str())) {
      while (dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
      }
      closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  size_t Count(const std::string& line) const {
    return static_cast<size_t>(std::count(m_server.Transcript().begin(), m_server.Transcript().end(), line));
  }
  // Position of a command in the transcript (npos when missing).
  size_t Where(const std::string& line) const {
    const auto& t = m_server.Transcript();
    const auto it = std::find(t.begin(), t.end(), line);
    return it == t.end() ? std::string::npos : static_cast<size_t>(it - t.begin());
  }

  // The first pass's exchanges up to the 150 to STOR of Tq1.txt: the
  // clean-up's (empty) listing and the folder checks first.
  FakeFtpServer& FirstUploadUpTo150() {
    return m_server.Expect("TYPE A", "200 Type set to A.")
        .Expect("PASV")
        .Pasv()
        .Expect("LIST data", "150 Here comes the listing.")
        .DataClose()
        .Reply("226 Directory send OK.")
        .Expect("PWD", "257 \"/\" is the current directory.")
        .Expect("CWD data", "250 Directory changed.")
        .Expect("CWD /", "250 Directory changed.")
        .Expect("MKD data", "257 \"data\" created.")
        .Expect("TYPE I", "200 Type set to I.")
        .Expect("PASV")
        .Pasv()
        .Expect("STOR data/Tq1.txt", "150 Ok to send data.");
  }
  // How often `part` occurs in `text`.
  static size_t Occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }

  FakeFtpServer m_server;
  std::string m_extraListing;
  std::map<std::string, size_t> m_claimed;  // sizes the listing claims
  int m_passes = 0;
  std::vector<std::vector<std::string>> m_localAtPass;  // the local folder as each pass began
};

TEST_F(FolderPassTest, AnAcceptedTFileGoesUpAndIsDeletedLocallyOthersStay) {
  PutLocal("Tq1.txt", "order 1\r\n");
  PutLocal("Tq1.doc", "not a type we send\r\n");
  PutLocal("q1.txt", "not outgoing\r\n");
  PutLocal("Tas.m", "s.m sits in .xls.mao.txt.\r\n");  // the type test looks anywhere in the list
  PutLocal("Tmao", "mao\r\n");
  PutLocal("Tq1.dat", "dat is not in the list\r\n");
  ASSERT_TRUE(LoggedIn());
  ASSERT_TRUE(PassesUntil([&] { return !Local("Tq1.txt") && !Local("Tas.m") && !Local("Tmao"); }));
  ASSERT_TRUE(RunPasses(2));

  EXPECT_EQ(ServerFile("Tq1.txt"), "order 1\r\n");
  EXPECT_EQ(ServerFile("Tas.m"), "s.m sits in .xls.mao.txt.\r\n");
  EXPECT_EQ(ServerFile("Tmao"), "mao\r\n");
  EXPECT_FALSE(OnServer("Tq1.doc"));
  EXPECT_FALSE(OnServer("q1.txt"));
  EXPECT_FALSE(OnServer("Tq1.dat"));
  EXPECT_EQ(Count("STOR data/Tq1.txt"), 1u);
  EXPECT_THAT(LocalNames(), ElementsAre("Tq1.dat", "Tq1.doc", "q1.txt"));
  EXPECT_EQ(LocalFile("Tq1.doc"), "not a type we send\r\n");
  const std::string log = Read("plnrc.log");
  EXPECT_THAT(log, HasSubstr("Type mismatch:[.xls.mao.txt.#doc]"));
  EXPECT_THAT(log, HasSubstr("Type mismatch:[.xls.mao.txt.#dat]"));
  EXPECT_THAT(log, HasSubstr("上传文件5:[Tq1.txt]9"));
  EXPECT_THAT(log, HasSubstr("Tq1.txt:上传完成"));
  EXPECT_THAT(log, HasSubstr("Tq1.txt:删除完成"));
  EXPECT_THAT(log, HasSubstr("UP:100#Force=False"));
  EXPECT_THAT(log, HasSubstr("开始上传[" + DataFolder() + "/]中的文件"));
}

TEST_F(FolderPassTest, AnRFileComesDownThroughTmpReplacesTheOlderCopyAndLeavesTheServer) {
  PutLocal("Ra1.txt", "old reply\r\n");
  m_server.SetFile("data/Ra1.txt", "new reply, longer\r\n");
  // A folder named like a reply, a temporary name and a hostile name stay.
  m_extraListing =
      "drwxr-xr-x    2 ftp      ftp            0 Jan 01 00:00 Rdir\r\n"
      "-rw-r--r--    1 ftp      ftp            5 Jan 01 00:00 Rb.txt.tmp\r\n"
      "-rw-r--r--    1 ftp      ftp            5 Jan 01 00:00 Rx\\y.txt\r\n";
  ASSERT_TRUE(LoggedIn());
  ASSERT_TRUE(PassesUntil([&] { return !OnServer("Ra1.txt"); }));
  ASSERT_TRUE(RunPasses(3));

  EXPECT_EQ(LocalFile("Ra1.txt"), "new reply, longer\r\n");
  EXPECT_THAT(LocalNames(), ElementsAre("Ra1.txt"));  // no .tmp left behind
  EXPECT_EQ(Count("RETR data/Ra1.txt"), 1u);
  EXPECT_LT(Where("RETR data/Ra1.txt"), Where("DELE data/Ra1.txt"));
  for (const auto& line : m_server.Transcript()) {
    EXPECT_THAT(line, Not(HasSubstr("Rdir"))) << "a folder is no reply";
    EXPECT_THAT(line, Not(HasSubstr("Rb.txt.tmp")));
    EXPECT_THAT(line, Not(HasSubstr("Rx")));
  }
  const std::string log = Read("plnrc.log");
  EXPECT_THAT(log, HasSubstr("开始下载[data/]中的文件"));
  // Numbered over every listed entry, the folder and skipped names included.
  EXPECT_THAT(log, HasSubstr("下载文件4:[data/Ra1.txt]"));
  EXPECT_THAT(log, HasSubstr("文件[" + DataFolder() + "/Ra1.txt]已存在，将删除该文件;"));
  EXPECT_THAT(log, HasSubstr("Ra1.txt:删除完成"));
  // Skipped names are said once per run, however many passes saw them.
  const std::string err = Read("plnrc.err");
  EXPECT_EQ(Occurrences(err, "Temporary name skipped: [data/Rb.txt.tmp]"), 1u) << err;
  EXPECT_THAT(err, HasSubstr("Unsafe name skipped: [data/Rx\\y.txt]"));
}

TEST_F(FolderPassTest, After120SecondsItWaitsThenClearsOldRepliesBeforeTheNextBatch) {
  PutLocal("Tq1.txt", "batch 1\r\n");
  ASSERT_TRUE(LoggedIn());
  ASSERT_TRUE(PassesUntil([&] { return OnServer("Tq1.txt") && !Local("Tq1.txt"); }));
  const Duration uploaded = Elapsed();
  // Inside the window, replies are still looked for.
  ASSERT_TRUE(PassesUntil([&] { return Elapsed() > uploaded + 100s; }, 200s));
  EXPECT_THAT(Read("plnrc.log"), Not(HasSubstr("Waiting...|")));
  ASSERT_TRUE(PassesUntil([&] { return Read("plnrc.log").find("Waiting...|") != std::string::npos; }, 200s));
  EXPECT_LE(Elapsed(), uploaded + 123s);
  // A late reply arrives after the window: it is not fetched, and the next
  // batch clears it first. A folder among the replies stays.
  m_server.SetFile("data/Rlate.txt", "late\r\n");
  m_extraListing = "drwxr-xr-x    2 ftp      ftp            0 Jan 01 00:00 Ra\r\n";
  ASSERT_TRUE(RunPasses(5));
  EXPECT_EQ(Count("RETR data/Rlate.txt"), 0u);
  EXPECT_TRUE(OnServer("Rlate.txt"));

  PutLocal("Tq2.txt", "batch 2\r\n");
  ASSERT_TRUE(PassesUntil([&] { return !Local("Tq2.txt"); }));
  EXPECT_FALSE(OnServer("Rlate.txt"));
  EXPECT_EQ(ServerFile("Tq2.txt"), "batch 2\r\n");
  EXPECT_LT(Where("DELE data/Rlate.txt"), Where("STOR data/Tq2.txt"));
  EXPECT_EQ(Count("DELE data/Ra"), 0u);
  const std::string log = Read("plnrc.log");
  EXPECT_THAT(log, HasSubstr("开始清除上次的文件..."));
  EXPECT_THAT(log, HasSubstr("Rlate.txt:删除完成"));
  EXPECT_THAT(log, HasSubstr("清除完成."));
  // The clean-up ran once, for the first upload of the batch.
  ASSERT_TRUE(RunPasses(3));
  // The first batch had its own clean-up at start-up.
  EXPECT_EQ(Occurrences(log, "开始清除上次的文件..."), 2u);
}

// ---- faults: afterwards both sides still hold every file whole ----------

TEST_F(FolderPassTest, ARefusedDeleKeepsTheServerCopyAndTheLocalFinalFile) {
  m_server.SetDefaultReply("DELE", "550 Permission denied.");
  m_server.SetFile("data/Ra1.txt", "reply\r\n");
  ASSERT_TRUE(LoggedIn());
  ASSERT_TRUE(PassesUntil([&] { return Count("DELE data/Ra1.txt") >= 1; }));
  ASSERT_TRUE(RunPasses(1));

  EXPECT_EQ(LocalFile("Ra1.txt"), "reply\r\n");
  EXPECT_THAT(LocalNames(), ElementsAre("Ra1.txt"));
  EXPECT_EQ(ServerFile("Ra1.txt"), "reply\r\n");
  EXPECT_THAT(Read("plnrc.log"), HasSubstr("Ra1.txt:删除失败;"));
}

TEST_F(FolderPassTest, ADownloadShorterThanListedIsAFailureEvenWith226) {
  // The listing and SIZE say 100 bytes; the server sends 7 and says 226.
  m_server.SetFile("data/Ra1.txt", "partial");
  m_server.SetDefaultReply("SIZE", "213 100");
  m_claimed["Ra1.txt"] = 100;
  PutLocal("Ra1.txt", "older whole copy\r\n");
  ASSERT_TRUE(LoggedIn());
  ASSERT_TRUE(PassesUntil([&] { return Count("RETR data/Ra1.txt") >= 1; }));
  ASSERT_TRUE(RunPasses(1));

  EXPECT_EQ(Count("DELE data/Ra1.txt"), 0u);
  EXPECT_EQ(ServerFile("Ra1.txt"), "partial");
  EXPECT_EQ(LocalFile("Ra1.txt"), "older whole copy\r\n");
  EXPECT_THAT(LocalNames(), ElementsAre("Ra1.txt"));
}

TEST_F(FolderPassTest, ADownloadCutShortWith426KeepsTheServerCopyAndLeavesNoPartialFile) {
  const std::string whole = "reply in twenty bytes";
  m_server.SetFile("data/Ra1.txt", whole);
  m_server.Expect("TYPE A", "200 Type set to A.")
      .Expect("PASV")
      .Pasv()
      .Expect("LIST data", "150 Here comes the listing.")
      .DataSend("-rw-r--r--    1 ftp      ftp            21 Jan 01 00:00 Ra1.txt\r\n")
      .DataClose()
      .Reply("226 Directory send OK.")
      .Expect("TYPE I", "200 Type set to I.")
      .Expect("SIZE data/Ra1.txt", "213 21")
      .Expect("TYPE I", "200 Type set to I.")
      .Expect("PASV")
      .Pasv()
      .Expect("RETR data/Ra1.txt", "150 Opening BINARY mode data connection.")
      .DataSend(whole.substr(0, 9))
      .DataClose()
      .Reply("426 Connection closed; transfer aborted.");
  ASSERT_TRUE(LoggedIn());
  ASSERT_TRUE(PassesUntil([&] { return !OnServer("Ra1.txt"); }));
  ASSERT_TRUE(RunPasses(1));

  EXPECT_THAT(m_server.Failures(), IsEmpty());
  // The cut download left nothing under the final name (its temporary file
  // may stay until the next download overwrites it); the next pass fetched
  // it whole and only then deleted it on the server.
  ASSERT_GE(m_localAtPass.size(), 2u);
  EXPECT_THAT(m_localAtPass[1], Not(Contains("Ra1.txt")));
  EXPECT_EQ(Count("RETR data/Ra1.txt"), 2u);
  EXPECT_EQ(Count("DELE data/Ra1.txt"), 1u);
  EXPECT_EQ(LocalFile("Ra1.txt"), whole);
  EXPECT_THAT(LocalNames(), ElementsAre("Ra1.txt"));
  EXPECT_THAT(Read("plnrc.err"), HasSubstr("Ra1.txt:下载失败"));
}

TEST_F(FolderPassTest, AConnectionDroppedMidUploadKeepsTheLocalFileUntilAWholeCopyIsUp) {
  PutLocal("Tq1.txt", std::string(64 * 1024, 'u'));
  // The clean-up's listing, the folder checks, then the upload, cut.
  FirstUploadUpTo150()
      .DataAccept()
      .Delay(5ms)
      .Drop(FakeFtpServer::Close::kReset);
  ASSERT_TRUE(LoggedIn());
  ASSERT_TRUE(RunUntil([&] { return m_server.Finished(); }, 30s));
  RunUntil([] { return false; }, 5s);

  EXPECT_THAT(m_server.Failures(), IsEmpty());
  // The cut upload deleted nothing; the file went up again on a new
  // connection, and was deleted locally only once the server held all of it.
  ASSERT_TRUE(PassesUntil([&] { return !Local("Tq1.txt"); }));
  EXPECT_EQ(Count("STOR data/Tq1.txt"), 2u);
  EXPECT_EQ(ServerFile("Tq1.txt"), std::string(64 * 1024, 'u'));
  EXPECT_THAT(LocalNames(), IsEmpty());
  ASSERT_FALSE(m_localAtPass.empty());
  EXPECT_THAT(m_localAtPass.front(), ElementsAre("Tq1.txt"));
}

TEST_F(FolderPassTest, ATFileThatGrowsWhileItGoesUpIsKeptAndSentAgain) {
  PutLocal("Tq1.txt", "line 1\r\n");
  FirstUploadUpTo150()
      .DataReceive()
      // The companion writes on while the first part is on its way.
      .Do([this] { PutLocal("Tq1.txt", "line 1\r\nline 2\r\n"); }, "the file grows")
      .Reply("226 Transfer complete.");
  ASSERT_TRUE(LoggedIn());
  ASSERT_TRUE(PassesUntil([&] { return m_server.Finished() && !Local("Tq1.txt"); }));

  EXPECT_THAT(m_server.Failures(), IsEmpty());
  ASSERT_EQ(m_server.Received().size(), 2u);
  EXPECT_EQ(m_server.Received()[0], "line 1\r\n");
  EXPECT_EQ(ServerFile("Tq1.txt"), "line 1\r\nline 2\r\n");
  EXPECT_THAT(LocalNames(), IsEmpty());
  EXPECT_THAT(Read("plnrc.err"), HasSubstr("File changed while it was uploaded, kept for the next pass: "));
}

}  // namespace
}  // namespace pellan::client::test
