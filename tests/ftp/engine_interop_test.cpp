// The engine against real servers as one table: every operation below runs
// against pyftpdlib, vsftpd and pure-ftpd on loopback, in passive and in
// active mode. Each server starts once for the table; every operation gets
// an emptied served folder and a fresh login, and is checked on the
// server's own disk. The single commands' replies, in each server's words,
// are played by the scripted server's tests.
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "net/socket_support.h"
#include "support/scratch_state_home.h"
#include "transfer_helpers.h"

namespace pellan::test {
namespace {

namespace fs = std::filesystem;
using ::testing::UnorderedElementsAre;
using ::testing::UnorderedElementsAreArray;

class EngineInteropTest : public ::testing::TestWithParam<std::tuple<FtpServerKind, bool>> {
 public:
  void SetUp() override {
    m_server = &SharedFtpServer(std::get<0>(GetParam()));
    PELLAN_START_FTP_SERVER_OR_SKIP(*m_server);
  }

  std::string Why() const {
    return std::to_string(m_ftp->ErrorNumber()) + " " + m_ftp->ErrorInfo() + "\n" + m_server->Log();
  }
  std::string Disk(const std::string& remotePath) const { return ReadWholeFile(m_server->LocalPath(remotePath)); }
  std::string Local(const std::string& name) const { return m_local->File(name); }
  // Files, and folders named with a trailing "/", into the served folder.
  void Put(const Tree& entries) {
    for (const auto& [path, content] : entries) {
      ASSERT_TRUE(path.back() == '/' ? m_server->MakeFolder(path) : m_server->PutFile(path, content)) << path;
    }
  }
  void PutLocal(const Tree& files) {
    for (const auto& [path, content] : files) {
      fs::create_directories(fs::path(Local(path)).parent_path());
      ASSERT_TRUE(WriteWholeFile(Local(path), content)) << path;
    }
  }

  // ---- the operations ----------------------------------------------------

  void Listings() {
    Put({{"empty/", ""}, {"pub/R1.txt", "hello"}, {"pub/R2.txt", std::string(3000, 'x')},
         {"pub/r3.txt", "lower case"}, {"pub/a.txt", "1234567"}, {"pub/Rsub/inner.txt", "in"}, {"pub/sub/", ""}});
    ASSERT_EQ(symlink("R1.txt", m_server->LocalPath("pub/Rlink").c_str()), 0);
    Put({{"my dir/a b.txt", "spaced!"}, {"my dir/R x.txt", "R"}});

    EXPECT_TRUE(m_ftp->GetRemoteFilesInfo("empty/") == nullptr && m_ftp->ErrorNumber() == 0 &&
                m_ftp->GetFtpDirectoryInfo("empty") == nullptr && m_ftp->ErrorNumber() == 0)
        << Why();

    auto files = m_ftp->GetRemoteFilesInfo("pub/");
    ASSERT_NE(files, nullptr) << Why();
    // A link is named by itself; where the server shows its target, that is it.
    std::map<std::string, std::string> listed;
    for (const CFtpFile& f : *files) {
      listed[f.FileName()] = (f.IsDirectory() ? "dir" : f.FileName() == "Rlink" ? "link" : std::to_string(f.FileSize())) +
                             (f.LastWriteTime().empty() ? " no time" : "") +
                             (f.FilePath().empty() || f.FilePath() == "R1.txt" ? "" : " -> " + f.FilePath());
    }
    EXPECT_EQ(listed, (std::map<std::string, std::string>{{"R1.txt", "5"}, {"R2.txt", "3000"}, {"r3.txt", "10"},
                                                          {"a.txt", "7"}, {"Rsub", "dir"}, {"sub", "dir"},
                                                          {"Rlink", "link"}}));
    EXPECT_THAT(Names(m_ftp->GetFtpDirectoryInfo("pub/Rsub").get()), UnorderedElementsAre("inner.txt"));
    EXPECT_THAT(Names(m_ftp->GetFtpDirectoryInfo("my dir").get()), UnorderedElementsAre("a b.txt", "R x.txt"));
    EXPECT_THAT(Names(m_ftp->GetFtpDirectoryInfo("/my dir/R*").get()), UnorderedElementsAre("R x.txt"));

    // Patterns, which pyftpdlib does not know: every server gives the same.
    const std::vector<std::pair<std::string, std::vector<std::string>>> patterns = {
        {"pub/R*", {"R1.txt", "R2.txt", "Rlink", "Rsub"}}, {"pub/R?.txt", {"R1.txt", "R2.txt"}},
        {"/pub/r*", {"r3.txt"}}, {"pub/*.txt", {"R1.txt", "R2.txt", "r3.txt", "a.txt"}},
        {"pub/Rsub/*", {"inner.txt"}}, {"pub/Q*", {}}};
    for (const auto& [path, names] : patterns) {
      EXPECT_THAT(Names(m_ftp->GetRemoteFilesInfo(path).get()), UnorderedElementsAreArray(names)) << path;
      EXPECT_EQ(m_ftp->ErrorNumber(), 0) << path << ": " << m_ftp->ErrorInfo();
      EXPECT_THAT(Names(m_ftp->GetFtpDirectoryInfo(path).get()), UnorderedElementsAreArray(names)) << path;
    }

    // Single files, and paths that are missing or no folder.
    auto info = m_ftp->GetFtpFileInfo("my dir/R x.txt");
    EXPECT_EQ(info ? info->FileName() : Why(), "R x.txt");
    info = m_ftp->GetFtpFileInfo("pub/R2.txt");
    const long long size = static_cast<long long>(m_ftp->GetFtpFileSize("/my dir/a b.txt"));
    EXPECT_EQ(info ? std::to_string(info->FileSize()) + " " + std::to_string(info->IsDirectory()) : Why(), "3000 0");
    EXPECT_EQ(size, 7);
    for (const char* path : {"nope", "nope/R*", "pub/nope.txt"}) {
      EXPECT_TRUE((path[0] == 'n' ? m_ftp->GetFtpDirectoryInfo(path) == nullptr : m_ftp->GetFtpFileInfo(path) == nullptr) &&
                  m_ftp->ErrorNumber() != 0)
          << path;
    }
    EXPECT_EQ(m_ftp->GetFtpFileSize("pub/nope.txt"), -1);
    EXPECT_EQ(m_ftp->ErrorNumber(), kErrRemoteFileMissing);
    EXPECT_EQ(m_ftp->GetRemoteFilesInfo("nope/"), nullptr);
    EXPECT_EQ(m_ftp->GetFtpDirectoryInfo("pub/a.txt"), nullptr);
    EXPECT_EQ(m_ftp->ErrorNumber(), kErrRemoteFolderMissing);

    for (const char* path : {"empty", "/empty/", "pub", "/pub/sub", "pub/Rsub/", "my dir"}) {
      EXPECT_TRUE(m_ftp->ExistDirectory(path)) << path << ": " << m_ftp->ErrorInfo();
    }
    for (const char* path : {"nope", "/nope/", "pub/nope", "nope/deeper", "pub/a.txt", "no dir/x"}) {
      EXPECT_TRUE(!m_ftp->ExistDirectory(path) && m_ftp->ErrorNumber() != 0 && m_ftp->Operation() == kOpNone) << path;
    }
    EXPECT_EQ(m_ftp->GetCurrentDirectory(), "/");  // each query went back
  }

  // A small tree with every kind of entry a walk meets.
  void TreesDownAndUp() {
    const Tree tree = {{"a.txt", "alpha\r\nbeta\n"}, {"b.bin", RandomBytes(70'000, 1)}, {"zero.dat", ""},
                       {"sub/", ""}, {"sub/c.txt", "gamma"}, {"sub/deeper/", ""},
                       {"sub/deeper/d.bin", RandomBytes(5'000, 2)}, {"empty/", ""}};
    for (const auto& [path, content] : tree) Put({{"pub/" + path, content}});
    ASSERT_TRUE(Download(*m_ftp, "/pub/", Local("in/"))) << Why();
    EXPECT_EQ(ReadTree(Local("in")), tree);

    ASSERT_TRUE(Upload(*m_ftp, Local("in/"), "/up/tree/")) << Why();
    EXPECT_EQ(ReadTree(m_server->LocalPath("up/tree")), tree);
    EXPECT_EQ(m_events.errors, 0);
  }

  void Patterns() {
    Put({{"pub/r1.txt", "one"}, {"pub/r2.txt", "two"}, {"pub/r3.bin", "three"}, {"pub/sub/r4.txt", "four"}});
    ASSERT_TRUE(Download(*m_ftp, "/pub/r?.txt", Local("got/"))) << Why();
    EXPECT_EQ(ReadTree(Local("got")), (Tree{{"r1.txt", "one"}, {"r2.txt", "two"}}));
    const std::string source = Local("src");
    PutLocal({{"src/x1.txt", "x one"}, {"src/x2.log", "x two"}, {"src/sub/x3.txt", "x three"}});
    ASSERT_TRUE(Upload(*m_ftp, source + "/*.txt", "/w/")) << Why();
    EXPECT_EQ(ReadTree(m_server->LocalPath("w")), (Tree{{"x1.txt", "x one"}}));
  }

  void AbortCurrentUpload() {
    const std::string one = RandomBytes(2'000, 7), two = RandomBytes(4 << 20, 8), three = RandomBytes(3'000, 9);
    PutLocal({{"1.bin", one}, {"2.bin", two}, {"3.bin", three}});
    m_ftp->OnTransfer = [this, done = false]() mutable {
      if (!done && m_ftp->QueueIndex() == 2 && m_ftp->TransferSize() > 0) {
        done = true;
        m_ftp->AbortCurrent();
      }
    };
    ASSERT_TRUE(Upload(*m_ftp, Local("1.bin") + "|" + Local("2.bin") + "|" + Local("3.bin"), "/q/")) << Why();
    EXPECT_EQ(m_ftp->AbortedFileList(), Local("2.bin"));
    EXPECT_TRUE(Disk("q/1.bin") == one && Disk("q/3.bin") == three);
    const std::string kept = Disk("q/2.bin");  // what was kept of the file cut short is a beginning of it
    EXPECT_TRUE(kept.size() < two.size() && two.compare(0, kept.size(), kept) == 0);
  }

  ScopedLoop m_loop;  // real time: the servers run on their own clocks
  RealFtpServer* m_server = nullptr;
  std::unique_ptr<TempDir> m_local;
  std::unique_ptr<FtpLibrary> m_ftp;
  EventRecorder m_events;
};

TEST_P(EngineInteropTest, EveryOperation) {
  using Op = void (EngineInteropTest::*)();
  const std::pair<const char*, Op> operations[] = {
      {"listings", &EngineInteropTest::Listings}, {"trees down and up", &EngineInteropTest::TreesDownAndUp},
      {"patterns", &EngineInteropTest::Patterns},
      {"abort current upload", &EngineInteropTest::AbortCurrentUpload},
  };
  for (const auto& [name, run] : operations) {
    SCOPED_TRACE(name);
    // A fresh control logged in to an emptied served folder.
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(m_server->Root(), ec)) fs::remove_all(entry.path(), ec);
    m_local = std::make_unique<TempDir>();
    m_events = EventRecorder();
    m_ftp = RealControl(*m_server, std::get<1>(GetParam()));
    m_ftp->SetKeepConnSecond(0);
    m_events.Attach(*m_ftp);
    ASSERT_TRUE(m_ftp->Connect()) << Why();
    (this->*run)();
    m_ftp->CloseConnection();
    m_ftp.reset();
    g_blnConnecting = false;
  }
}

INSTANTIATE_TEST_SUITE_P(Servers, EngineInteropTest,
                         ::testing::Combine(::testing::ValuesIn(AllFtpServerKinds()), ::testing::Bool()),
                         [](const auto& info) {
                           return FtpServerTestName(std::get<0>(info.param)) +
                                  (std::get<1>(info.param) ? "_passive" : "_active");
                         });

// On the IPv6 loopback: EPSV in passive and EPRT in active mode for a file
// up, down and a listing.
TEST(EngineInteropIpv6Test, EpsvAndEprtOnTheIpv6Loopback) {
  for (const FtpServerKind kind : {FtpServerKind::kVsftpd, FtpServerKind::kPureFtpd}) {
    ScopedLoop loop;
    RealFtpServer server(kind);
    server.UseIpv6();
    PELLAN_START_FTP_SERVER_OR_SKIP(server);
    for (const bool passive : {true, false}) {
      SCOPED_TRACE(std::string(server.Name()) + (passive ? " passive" : " active"));
      TempDir local;
      const std::string content = RandomBytes(70'000, 32);
      ASSERT_TRUE(WriteWholeFile(local.File("a.bin"), content));
      auto ftp = RealControl(server, passive);
      // Written both ways: "[::1]:PORT", and "::1" with the port apart.
      ftp->SetServerName(Enc(passive ? "[::1]:" + std::to_string(server.Port()) : "::1"));
      EventRecorder events;
      events.Attach(*ftp);
      ASSERT_TRUE(Upload(*ftp, local.File("a.bin"), "/a.bin")) << ftp->ErrorInfo() << server.Log();
      ASSERT_TRUE(Download(*ftp, "/a.bin", local.File("b.bin"))) << ftp->ErrorInfo();
      const auto listing = ftp->GetRemoteFilesInfo("/");
      EXPECT_TRUE(listing && listing->Count() == 1 && ReadWholeFile(local.File("b.bin")) == content);
      EXPECT_EQ(events.CountSent(passive ? "EPSV" : "EPRT |2|::1|"), 3u);
      EXPECT_EQ(events.CountSent("PASV") + events.CountSent("PORT"), 0u);
    }
  }
}

// TLS required for the login and every data connection, under TLS 1.3 and
// 1.2, in both modes: a file of 16 MiB up, cut both ways and down again, and
// a folder of small files (on vsftpd every data connection must resume the
// control connection's session).
TEST(EngineInteropTlsTest, FilesAndFoldersUpAndDownOverTls) {
  TempDir local;
  const std::string big = RandomBytes(16 << 20, 43);
  Tree small;
  for (int i = 0; i < 12; ++i) small["f" + std::to_string(i) + ".txt"] = RandomBytes(4096, 50 + i);
  fs::create_directories(local.File("small"));
  ASSERT_TRUE(WriteWholeFile(local.File("c.bin"), big));
  for (const auto& [name, content] : small) ASSERT_TRUE(WriteWholeFile(local.File("small/" + name), content));
  for (const FtpServerKind kind : AllFtpServerKinds()) {
    ScopedLoop loop;
    RealFtpServer server(kind);
    server.UseTls();
    PELLAN_START_FTP_SERVER_OR_SKIP(server);
    for (const bool passive : {true, false}) {
      for (const bool tls12 : {false, true}) {
        SCOPED_TRACE(std::string(server.Name()) + (passive ? " passive" : " active") + (tls12 ? " TLS 1.2" : ""));
        auto ftp = RealControl(server, passive);
        ftp->SetTlsMode(1);
        ftp->SetTlsCaFile(server.CertFile());
        ftp->SetTls12Only(tls12);
        const std::string folder = "/" + std::to_string(passive) + std::to_string(tls12);
        ASSERT_TRUE(Upload(*ftp, local.File("c.bin"), folder + "/c.bin")) << ftp->ErrorInfo() << server.Log();
        ASSERT_TRUE(Upload(*ftp, local.File("small/"), folder + "/small/")) << ftp->ErrorInfo() << server.Log();
        // Cut mid-file both ways: the session goes on, and the download resumes whole.
        const std::string cut = local.File(std::string("cut/") + server.Name() + folder);
        ftp->OnTransfer = [&] {
          if (ftp->TransferSize() > (1 << 20)) ftp->Abort();
        };
        EXPECT_FALSE(Upload(*ftp, local.File("c.bin"), folder + "/cut.bin"));
        EXPECT_FALSE(Download(*ftp, folder + "/c.bin", cut));
        EXPECT_EQ(ftp->ErrorNumber(), kErrCanceled);
        ftp->OnTransfer = nullptr;
        ASSERT_TRUE(Download(*ftp, folder + "/c.bin", cut)) << ftp->ErrorInfo();
        EXPECT_TRUE(ReadWholeFile(cut) == big);
        EXPECT_EQ(ReadTree(server.LocalPath(folder.substr(1) + "/small")), small);
        EXPECT_EQ(ftp->TlsInfo().substr(0, 7), tls12 ? "TLSv1.2" : "TLSv1.3");
      }
    }
  }
}

// A certificate that does not pass ends the login with 20042 and the reason
// before the user name goes: a wrong pin, one nobody vouches for, one made
// for another address.
TEST(EngineInteropTlsTest, ACertificateThatDoesNotPassEndsTheLoginBeforeTheUserNameGoes) {
  const struct {
    const char* names;  // the certificate's
    bool trusted;       // its own file as the CA file
    const char* pin;
    const char* reason;
  } rows[] = {
      {"IP:127.0.0.1", true, "sha256:00:11", "a pin is \"sha256:\" and 64 hex digits"},
      {"IP:127.0.0.1", true, "sha256:0000000000000000000000000000000000000000000000000000000000000000",
       "is not the pinned one (it is sha256:"},
      {"IP:127.0.0.1", false, "", "self-signed certificate"},
      {"IP:127.0.0.9", true, "", "IP address mismatch"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.reason);
    ScopedLoop loop;
    RealFtpServer server(FtpServerKind::kPureFtpd);
    server.UseTls(row.names);
    PELLAN_START_FTP_SERVER_OR_SKIP(server);
    auto ftp = RealControl(server);
    EventRecorder events;
    events.Attach(*ftp);
    ftp->SetTlsMode(1);
    ftp->SetTlsPin(row.pin);
    if (row.trusted) ftp->SetTlsCaFile(server.CertFile());
    EXPECT_FALSE(ftp->Connect());
    EXPECT_THAT(ftp->ErrorInfo(), ::testing::HasSubstr(row.reason));
    EXPECT_EQ(events.CountSent("USER") + events.CountSent("PASS"), 0u);
  }
}

// A server that speaks TLS from its first byte (vsftpd's implicit mode; one
// sent AUTH TLS would refuse it); a certificate made for another address
// still ends the login.
TEST(EngineInteropTlsTest, ImplicitTlsFromTheFirstByte) {
  TempDir local;
  const std::string content = RandomBytes(512 << 10, 60);
  ASSERT_TRUE(WriteWholeFile(local.File("a.bin"), content));
  for (const bool matches : {true, false}) {
    ScopedLoop loop;
    RealFtpServer server(FtpServerKind::kVsftpd);
    server.UseTls(matches ? "IP:127.0.0.1" : "IP:127.0.0.9");
    server.AddOptions({"-oimplicit_ssl=YES"});
    PELLAN_START_FTP_SERVER_OR_SKIP(server);
    auto ftp = RealControl(server);
    ftp->SetTlsMode(2);
    ftp->SetTlsCaFile(server.CertFile());
    if (!matches) {
      EXPECT_FALSE(ftp->Connect());
      EXPECT_THAT(ftp->ErrorInfo(), ::testing::HasSubstr("IP address mismatch"));
      continue;
    }
    ASSERT_TRUE(Upload(*ftp, local.File("a.bin"), "/a.bin")) << ftp->ErrorInfo() << server.Log();
    ASSERT_TRUE(Download(*ftp, "/a.bin", local.File("back.bin"))) << ftp->ErrorInfo();
    EXPECT_EQ(ReadWholeFile(local.File("back.bin")), content);
  }
}

}  // namespace
}  // namespace pellan::test
