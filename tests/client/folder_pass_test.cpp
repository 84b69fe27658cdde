// The folder pass against the scripted FTP server on the test clock: what
// goes up and is deleted locally, what comes down through ".tmp", the
// 120-second window for replies and the clean-up before the next batch, and
// the faults after which both sides must still hold every file.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client_fixture.h"
#include "support/fake_ftp_server.h"

namespace pellan::client::test {
namespace {

using ::testing::IsSupersetOf;

class FolderPassTest : public ClientTest {
 protected:
  FolderPassTest() {
    m_quietPasses = false;
    m_server.Login().AnswerByDefault();
    m_server.ListFiles();
  }
  void TearDown() override { EXPECT_THAT(m_server.Failures(), IsEmpty()) << "the scripted server"; }

  // Logs in with logging on; every pass scans the local folder as the pass
  // does (the scripted server lists its files as they stand). With `repliesDue`, a batch has just
  // gone up (its clean-up done), so the passes look for replies at once.
  bool LoggedIn(bool repliesDue = false) {
    Put("plnrc.log", "");
    WriteSite(m_server.Port());
    frmTLVFTP& f = Form();
    f.FolderPass = [this] {
      ++m_passes;
      frmTLVFTP& form = Form();
      form.m_dtLastActive = Moment::Now();
      if (form.m_blnRunning) form.ScanFolder(DataFolder());
    };
    if (!f.Form_Load()) return false;
    if (repliesDue) {
      f.m_dtLastUpload = Moment::Now();
      f.m_blnClearPending = false;
    }
    return RunUntil([&] { return f.LoginCaption() == "停    止"; }, 60s);
  }
  // Runs passes until `done` holds (virtual time).
  bool PassesUntil(const std::function<bool()>& done, Duration timeout = 60s) { return RunUntil(done, timeout); }
  bool RunPasses(int count) { return PassesUntil([&, target = m_passes + count] { return m_passes >= target; }); }

  // A listing line the server sends besides its files.
  static std::string Entry(const std::string& name, size_t size = 5, const char* mode = "-rw-r--r--") {
    char line[128];
    snprintf(line, sizeof line, "%s    1 ftp      ftp      %10zu Jan 01 00:00 ", mode, size);
    return line + name + "\r\n";
  }
  bool OnServer(const std::string& name) const { return m_server.Files().count("data/" + name) != 0; }
  std::string ServerFile(const std::string& name) const {
    return OnServer(name) ? m_server.Files().at("data/" + name) : std::string();
  }
  void PutLocal(const std::string& name, const std::string& content) { Put("data/" + name, content); }
  bool Local(const std::string& name) const { return Exists("data/" + name); }
  std::string LocalFile(const std::string& name) const { return Read("data/" + name); }
  std::vector<std::string> LocalNames() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(DataFolder())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  // Transcript lines equal to `line` (or, with `part`, holding it).
  size_t Count(const std::string& line, bool part = false) const {
    return std::count_if(m_server.Transcript().begin(), m_server.Transcript().end(), [&](const std::string& l) {
      return part ? l.find(line) != std::string::npos : l == line;
    });
  }
  // Position of the `nth` (from 1) occurrence of a command (npos when missing).
  size_t Where(const std::string& line, size_t nth = 1) const {
    const auto& t = m_server.Transcript();
    for (size_t i = 0; i < t.size(); ++i) if (t[i] == line && --nth == 0) return i;
    return std::string::npos;
  }
  // Each command was sent, before the next.
  void InOrder(const std::vector<std::string>& lines) const {
    EXPECT_NE(Where(lines.back()), std::string::npos) << lines.back();
    for (size_t i = 1; i < lines.size(); ++i) EXPECT_LT(Where(lines[i - 1]), Where(lines[i])) << lines[i];
  }

  // `answer` answers `command` instead of the server's default (once).
  void Answer(const std::string& command, const std::function<void()>& answer) {
    m_server.OnCommand(command, [answer] { return answer(), true; });
  }
  size_t Mentions(const std::string& part) const { return Count(part, true); }
  static size_t Occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }

  FakeFtpServer m_server;
  int m_passes = 0;
};

// Tq2.txt's first STOR is cut by a dropped connection: the cut copy is
// taken off the server before the next attempt, under its temporary name
// (the final name never holds part of the file); the file goes up again on
// a new connection, and is deleted locally only once the server holds all
// of it. A file that changes while it goes up is kept, sent again, and
// deleted only once the server holds what the disk holds: Tg.txt grows;
// Tr.txt is replaced as cp -p and mv do (the same size and modification
// time, another file).
TEST_F(FolderPassTest, AnAcceptedTFileGoesUpWholeUnderItsFinalNameAndIsDeletedLocallyOthersStay) {
  // The type test looks anywhere in ".xls.mao.txt.": "Tas.m" and "Tmao" pass it.
  for (const char* name : {"Tq1.doc", "q1.txt", "Tas.m", "Tmao", "Tq1.dat"}) PutLocal(name, name);
  PutLocal("Tq1.txt", "order 1\r\n");
  const std::string big(64 * 1024, 'u'), temp = "data/_Tq2.txt.part";
  PutLocal("Tq2.txt", big);
  Answer("STOR " + temp, [this] {
    m_server.Reply("150 Ok to send data.").DataAccept().Delay(5ms).Drop(FakeFtpServer::Close::kReset);
  });
  PutLocal("Tg.txt", "line 1\r\n");
  PutLocal("Tr.txt", "version 1\r\n");
  const std::map<std::string, std::function<void()>> changes = {
      {"Tg.txt", [this] { PutLocal("Tg.txt", "line 1\r\nline 2\r\n"); }},
      {"Tr.txt", [this] {
         const std::string path = DataFolder() + "/Tr.txt", aside = DataFolder() + "/_Tr.txt";
         struct stat st {};
         ASSERT_EQ(stat(path.c_str(), &st), 0);
         PutLocal("_Tr.txt", "version 2\r\n");
         const timespec times[2] = {st.st_atim, st.st_mtim};
         ASSERT_EQ(utimensat(AT_FDCWD, aside.c_str(), times, 0), 0);
         ASSERT_EQ(rename(aside.c_str(), path.c_str()), 0);
       }}};
  for (const auto& [name, change] : changes) {
    Answer("STOR data/_" + name + ".part", [=, this] {
      m_server.Reply("150 Ok to send data.").DataReceive().Do(change, "the file changes");
      m_server.Reply("226 Transfer complete.")
          .Script("RNFR data/_" + name + ".part>350 Ready.|RNTO data/" + name + ">250 Renamed.");
    });
  }
  // Left by an upload cut short in an earlier session; the others are not ours.
  for (const char* name : {"_Told.txt.part", "_Told.txt", "Told.txt.part"}) {
    m_server.SetFile(std::string("data/") + name, "cut");
  }
  ASSERT_TRUE(LoggedIn());
  ASSERT_TRUE(PassesUntil([&] { return m_server.Finished() && LocalNames().size() == 3; }));  // the rest went
  ASSERT_TRUE(RunPasses(2));

  EXPECT_EQ(ServerFile("Tq1.txt") + ServerFile("Tas.m") + ServerFile("Tmao") + ServerFile("Tq1.doc") +
                ServerFile("q1.txt") + ServerFile("Tq1.dat") + LocalFile("Tq1.doc"),
            "order 1\r\nTas.mTmaoTq1.doc");
  InOrder({"DELE data/_Told.txt.part", "STOR data/_Tq1.txt.part", "RNTO data/Tq1.txt"});
  EXPECT_EQ(std::to_string(Count("STOR data/_Tq1.txt.part")) + std::to_string(Count("STOR " + temp)), "12");
  InOrder({"STOR " + temp, "DELE " + temp});
  EXPECT_LT(Where("DELE " + temp), Where("STOR " + temp, 2));
  EXPECT_EQ(Mentions("DELE data/T") + Mentions("STOR data/T"), 0u);
  EXPECT_TRUE(ServerFile("Tq2.txt") == big && !OnServer("_Tq2.txt.part"));
  EXPECT_EQ(ServerFile("_Told.txt") + ServerFile("Told.txt.part"), "cutcut");
  EXPECT_THAT(LocalNames(), ElementsAre("Tq1.dat", "Tq1.doc", "q1.txt"));
  EXPECT_THAT(m_server.Received(),
              IsSupersetOf({"line 1\r\n", "line 1\r\nline 2\r\n", "version 1\r\n", "version 2\r\n"}));
  EXPECT_EQ(ServerFile("Tg.txt") + ServerFile("Tr.txt"), "line 1\r\nline 2\r\nversion 2\r\n");
  for (const char* said : {"Type mismatch:[.xls.mao.txt.#doc]", "Tq1.txt:上传完成", "Tq1.txt:删除完成"}) {
    EXPECT_THAT(Read("plnrc.log"), HasSubstr(said));
  }
}

// Nothing comes down before the first upload, which first clears the last
// batch's replies; while replies are due, an upload goes first and clears
// nothing; 120 seconds after the last upload the passes wait, and the next
// batch clears a late reply first (a folder among the replies stays).
TEST_F(FolderPassTest, RepliesComeDownInTheWindowAfterAnUploadAndTheNextBatchClearsTheRest) {
  m_server.SetFile("data/Rold.txt", "last batch\r\n");
  ASSERT_TRUE(LoggedIn());
  ASSERT_TRUE(RunPasses(10));
  EXPECT_EQ(Mentions("LIST") + Mentions("RETR"), 0u);
  EXPECT_THAT(LocalNames(), IsEmpty());
  EXPECT_THAT(Read("plnrc.log"), HasSubstr("Waiting...||"));

  PutLocal("Tq1.txt", "batch 1\r\n");
  ASSERT_TRUE(PassesUntil([&] { return !Local("Tq1.txt"); }));
  EXPECT_EQ(ServerFile("Rold.txt") + "|" + ServerFile("Tq1.txt"), "|batch 1\r\n");
  InOrder({"DELE data/Rold.txt", "STOR data/_Tq1.txt.part"});
  EXPECT_THAT(LocalNames(), IsEmpty());
  m_server.SetFile("data/Rnew.txt", "reply\r\n");
  PutLocal("Tq2.txt", "batch 2\r\n");
  ASSERT_TRUE(PassesUntil([&] { return !Local("Tq2.txt") && !OnServer("Rnew.txt"); }));
  const Duration uploaded = Elapsed();
  EXPECT_EQ(LocalFile("Rnew.txt"), "reply\r\n");
  InOrder({"STOR data/_Tq2.txt.part", "RETR data/Rnew.txt", "DELE data/Rnew.txt"});
  EXPECT_EQ(Occurrences(Read("plnrc.log"), "开始清除上次的文件..."), 1u);

  // Inside the window, replies are still looked for.
  ASSERT_TRUE(PassesUntil([&] { return Elapsed() > uploaded + 100s; }, 200s));
  EXPECT_THAT(Read("plnrc.log"), Not(HasSubstr("Waiting...|2")));
  ASSERT_TRUE(PassesUntil([&] { return Read("plnrc.log").find("Waiting...|2") != std::string::npos; }, 200s));
  EXPECT_LE(Elapsed(), uploaded + 123s);
  m_server.SetFile("data/Rlate.txt", "late\r\n");
  m_server.SetListing(Entry("Ra", 0, "drwxr-xr-x"));
  ASSERT_TRUE(RunPasses(5));
  EXPECT_EQ(Count("RETR data/Rlate.txt"), 0u);
  EXPECT_TRUE(OnServer("Rlate.txt"));

  PutLocal("Tq3.txt", "batch 3\r\n");
  ASSERT_TRUE(PassesUntil([&] { return !Local("Tq3.txt"); }));
  EXPECT_EQ(ServerFile("Rlate.txt") + "|" + ServerFile("Tq3.txt"), "|batch 3\r\n");
  InOrder({"DELE data/Rlate.txt", "STOR data/_Tq3.txt.part"});
  EXPECT_EQ(Count("DELE data/Ra"), 0u);
  ASSERT_TRUE(RunPasses(3));
  EXPECT_EQ(Occurrences(Read("plnrc.log"), "开始清除上次的文件..."), 2u);
}

// An R file comes down through ".tmp", replaces the older copy and leaves
// the server. Names that are not plain file names as listed are never used.
TEST_F(FolderPassTest, AnRFileComesDownThroughTmpAndNamesThatAreNotPlainFileNamesAreNeverUsed) {
  // A lying server: a path, a NUL, a name no file can have, a name the FTP
  // control would trim into the real "Rb.txt", and a link; a folder named
  // like a reply, a temporary name and a name holding "\\" stay too.
  m_server.SetListing(Entry("../Rup.txt") + Entry(std::string("R\0nul.txt", 9)) +
                      Entry("R" + std::string(8 * 1024, 'n') + ".txt") + Entry("Rb.txt ") +
                      Entry("Rl.txt -> Rb.txt", 6, "lrwxrwxrwx") + Entry("Rdir", 0, "drwxr-xr-x") +
                      Entry("Rb.txt.tmp") + Entry("Rx\\y.txt"));
  m_server.SetFile("data/Rb.txt", "last batch\r\n");
  PutLocal("Tq1.txt", "batch\r\n");
  PutLocal("Ra1.txt", "old reply\r\n");
  // Locally, a name the FTP control would read as "Ta/b.txt".
  ASSERT_EQ(mkdir((DataFolder() + "/Ta").c_str(), 0755), 0);
  PutLocal("Ta/b.txt", "another file\r\n");
  PutLocal("Ta\\b.txt", "never sent\r\n");
  ASSERT_TRUE(LoggedIn());
  // The clean-up before the batch deletes the real Rb.txt, once.
  ASSERT_TRUE(PassesUntil([&] { return !Local("Tq1.txt"); }));
  EXPECT_EQ(Count("DELE data/Rb.txt"), 1u);
  // Replies are due: the real Rb.txt and Ra1.txt come down, and nothing
  // else. (A pass's listing is the one its clean-up saw: Rb.txt was asked
  // for once more after that.)
  const size_t retrBefore = Count("RETR data/Rb.txt");
  m_server.SetFile("data/Rb.txt", "the real Rb\r\n");
  m_server.SetFile("data/Ra1.txt", "new reply, longer\r\n");
  ASSERT_TRUE(PassesUntil([&] { return !OnServer("Rb.txt") && !OnServer("Ra1.txt"); }));
  ASSERT_TRUE(RunPasses(3));

  EXPECT_EQ(LocalFile("Rb.txt") + LocalFile("Ta\\b.txt") + LocalFile("Ra1.txt"),
            "the real Rb\r\nnever sent\r\nnew reply, longer\r\n");
  EXPECT_THAT(LocalNames(), ElementsAre("Ra1.txt", "Rb.txt", "Ta", "Ta\\b.txt"));  // no .tmp left behind
  EXPECT_EQ(Count("RETR data/Rb.txt"), retrBefore + 1);
  EXPECT_EQ(Count("RETR data/Ra1.txt"), 1u);
  EXPECT_EQ(Count("DELE data/Rb.txt"), 2u);
  InOrder({"RETR data/Ra1.txt", "DELE data/Ra1.txt"});
  for (const char* part :
       {"Rup", "nul.txt", "nnnnnnnn", "STOR data/Ta", "RETR data/Rl", "Rdir", "RETR data/Rb.txt.tmp", "Rx"}) {
    EXPECT_EQ(Mentions(part), 0u) << part;
  }
  // Skipped names are said once per run, however many passes saw them.
  const std::string err = Read("plnrc.err");
  for (const std::string& said : {"Unsafe name skipped: [" + DataFolder() + "/Ta\\b.txt]",
                                   std::string("Link skipped: [data/Rl.txt]"),
                                   std::string("Temporary name skipped: [data/Rb.txt.tmp]")}) {
    EXPECT_EQ(Occurrences(err, said), 1u) << said << "\n" << err;
  }
  EXPECT_THAT(err, HasSubstr("...(8202 bytes)]"));
}

// ---- faults: afterwards both sides still hold every file whole ----------

// Ra1.txt comes down whole but its DELE is refused; Ra2.txt is listed at 100
// bytes, SIZE tells nothing, and the server sends 7 and says 226; a folder
// holds Rb.txt's final name, so the rename fails; the folder's flush after
// Rc.txt's rename fails, as on a failing disk; Rd.txt does not fit on the
// disk (a tmpfs of 64 KiB over the local folder). Every server copy stays.
// (That the local copy is whole under its final name when the DELE goes
// out, the crash test shows by a kill at the DELE.)
TEST_F(FolderPassTest, AFailedDownloadOrDeleteKeepsTheServerCopy) {
  if (mount("tmpfs", DataFolder().c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "no tmpfs";
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{DataFolder()};
  m_server.SetDefaultReply("DELE", "550 Permission denied.");
  m_server.SetDefaultReply("SIZE", "500 Unknown command.");
  const std::map<std::string, std::string> replies = {{"data/Ra1.txt", "reply\r\n"},
                                                      {"data/Ra2.txt", "partial"},
                                                      {"data/Rb.txt", "reply b\r\n"},
                                                      {"data/Rc.txt", "reply c\r\n"},
                                                      {"data/Rd.txt", std::string(200 * 1024, 'r')}};
  for (const auto& [name, content] : replies) m_server.SetFile(name, content);
  m_server.ClaimSize("data/Ra2.txt", 100);
  PutLocal("Ra2.txt", "older whole copy\r\n");
  ASSERT_EQ(mkdir((DataFolder() + "/Rb.txt").c_str(), 0755), 0);
  PutLocal("Rb.txt/inside", "x");
  Form().FolderFsync = [this](int fd) {
    if (!Local("Rc.txt")) return fsync(fd);
    errno = EIO;
    return -1;
  };
  ASSERT_TRUE(LoggedIn(true));
  ASSERT_TRUE(PassesUntil([&] { return Count("RETR data/Rc.txt") >= 2 && Count("RETR data/Rd.txt") >= 2; }));

  EXPECT_EQ(m_server.Files(), replies);
  EXPECT_EQ(Mentions("DELE"), Count("DELE data/Ra1.txt"));  // only the whole copy's DELE went out
  EXPECT_EQ(LocalFile("Ra1.txt") + "|" + LocalFile("Ra2.txt"), "reply\r\n|older whole copy\r\n");
  std::vector<std::string> names = LocalNames();
  std::erase(names, "Rd.txt.tmp");  // it may stay, for the next attempt to overwrite
  EXPECT_THAT(names, ElementsAre("Ra1.txt", "Ra2.txt", "Rb.txt", "Rb.txt.tmp", "Rc.txt"));
  EXPECT_THAT(Read("plnrc.err"), HasSubstr("Rd.txt:下载失败"));
}

// Tgone.txt goes during the listing and sends nothing; Tro.txt is refused
// before any data moves, on every attempt: it is tried again after 1, 2, 4,
// ... and at most 60 seconds.
TEST_F(FolderPassTest, AFailedUploadDeletesOnTheServerOnlyWhatItsOwnStorPutThereAndIsTriedLater) {
  // Whole copies from an earlier batch, whose local files went long ago.
  m_server.SetFile("data/Tgone.txt", "earlier, whole\r\n");
  m_server.SetFile("data/Tro.txt", "read-only, whole\r\n");
  PutLocal("Tgone.txt", "vanishes before it goes up\r\n");
  PutLocal("Tro.txt", "refused by the server\r\n");
  Form({.directUploads = true});  // uploads go straight to their final names
  m_server.OnCommand("LIST data", [this] {
    EXPECT_EQ(unlink((DataFolder() + "/Tgone.txt").c_str()), 0);
    return false;
  });
  m_server.SetDefaultReply("STOR", "553 Could not create file.");
  ASSERT_TRUE(LoggedIn());
  RunUntil([] { return false; }, 125s);

  EXPECT_EQ(Mentions("DELE data/T"), 0u);
  EXPECT_EQ(ServerFile("Tgone.txt") + ServerFile("Tro.txt"), "earlier, whole\r\nread-only, whole\r\n");
  EXPECT_THAT(Read("plnrc.err"), HasSubstr("Tro.txt:上传失败"));
  // At 0, 1, 3, 7, 15, 31, 63 and 123 seconds.
  EXPECT_EQ(Count("STOR data/Tro.txt"), 8u);
}

}  // namespace
}  // namespace pellan::client::test
