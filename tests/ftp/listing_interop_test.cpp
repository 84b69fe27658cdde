// Listings and the remote queries built on them against the real servers,
// in passive and active mode: every server must give the same answers, even
// where the servers themselves disagree (patterns, missing paths).
#include <unistd.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "net/socket_support.h"
#include "support/scratch_state_home.h"
#include "transfer_helpers.h"

namespace pellan::test {
// Test names and failures say which server.
static void PrintTo(FtpServerKind kind, std::ostream* os) { *os << FtpServerKindName(kind); }
}  // namespace pellan::test

namespace pellan {
namespace {

using ::testing::UnorderedElementsAre;
using ::testing::UnorderedElementsAreArray;
using test::FtpServerKind;

using test::Names;

using Mode = std::tuple<FtpServerKind, bool>;  // the server, passive mode

class ListingInteropTest : public ::testing::TestWithParam<Mode> {
 protected:
  void SetUp() override {
    m_server = test::MakeFtpServer(std::get<0>(GetParam()));
    PELLAN_START_FTP_SERVER_OR_SKIP(*m_server);
    // The tree every case reads.
    ASSERT_TRUE(m_server->MakeFolder("empty"));
    ASSERT_TRUE(m_server->PutFile("pub/R1.txt", "hello"));
    ASSERT_TRUE(m_server->PutFile("pub/R2.txt", std::string(3000, 'x')));
    ASSERT_TRUE(m_server->PutFile("pub/r3.txt", "lower case"));
    ASSERT_TRUE(m_server->PutFile("pub/a.txt", "1234567"));
    ASSERT_TRUE(m_server->PutFile("pub/Rsub/inner.txt", "in"));
    ASSERT_TRUE(m_server->MakeFolder("pub/sub"));
    ASSERT_EQ(symlink("R1.txt", m_server->LocalPath("pub/Rlink").c_str()), 0);
    ASSERT_TRUE(m_server->PutFile("my dir/a b.txt", "spaced!"));
    ASSERT_TRUE(m_server->PutFile("my dir/R x.txt", "R"));

    m_ftp = test::RealControl(*m_server, std::get<1>(GetParam()));
    m_ftp->SetKeepConnSecond(0);
    ASSERT_TRUE(m_ftp->Connect()) << m_ftp->ErrorNumber() << " " << m_ftp->ErrorInfo() << "\n" << m_server->Log();
  }
  void TearDown() override {
    if (m_ftp) {
      m_ftp->CloseConnection();
      m_ftp.reset();
    }
    g_blnConnecting = false;
    if (m_server) m_server->Stop();
  }
  // The session still works: a listing of the folder of files follows.
  void ExpectSessionUsable() {
    auto files = m_ftp->GetRemoteFilesInfo("pub/");
    EXPECT_EQ(Names(files.get()).size(), 7u) << m_ftp->ErrorNumber() << " " << m_ftp->ErrorInfo();
  }

  test::ScopedLoop m_loop;
  std::unique_ptr<test::RealFtpServer> m_server;
  std::unique_ptr<FtpLibrary> m_ftp;
};

TEST_P(ListingInteropTest, EmptyFolder) {
  EXPECT_EQ(m_ftp->GetRemoteFilesInfo("empty/"), nullptr);
  EXPECT_EQ(m_ftp->ErrorNumber(), 0) << m_ftp->ErrorInfo();
  EXPECT_EQ(m_ftp->GetFtpDirectoryInfo("empty"), nullptr);
  EXPECT_EQ(m_ftp->ErrorNumber(), 0) << m_ftp->ErrorInfo();
  EXPECT_TRUE(m_ftp->ExistDirectory("empty"));
  EXPECT_TRUE(m_ftp->ExistDirectory("/empty/"));
  ExpectSessionUsable();
}

TEST_P(ListingInteropTest, FolderOfFilesFoldersAndLinks) {
  auto files = m_ftp->GetRemoteFilesInfo("pub/");
  ASSERT_NE(files, nullptr) << m_ftp->ErrorNumber() << " " << m_ftp->ErrorInfo();
  EXPECT_THAT(Names(files.get()), UnorderedElementsAre("R1.txt", "R2.txt", "r3.txt", "a.txt", "Rsub", "sub", "Rlink"));
  std::map<std::string, const CFtpFile*> byName;
  for (const CFtpFile& f : *files) byName[f.FileName()] = &f;
  struct Expected {
    const char* name;
    bool folder;
    long long size;  // -1: not compared (folders)
  };
  for (const Expected& e : {Expected{"R1.txt", false, 5}, Expected{"R2.txt", false, 3000}, Expected{"r3.txt", false, 10},
                            Expected{"a.txt", false, 7}, Expected{"Rsub", true, -1}, Expected{"sub", true, -1}}) {
    ASSERT_TRUE(byName.count(e.name)) << e.name;
    EXPECT_EQ(byName[e.name]->IsDirectory(), e.folder) << e.name;
    if (e.size >= 0) {
      EXPECT_EQ(byName[e.name]->FileSize(), e.size) << e.name;
    }
    EXPECT_FALSE(byName[e.name]->LastWriteTime().empty()) << e.name;
  }
  // A link is named by itself; where the server shows its target, that is
  // the target.
  ASSERT_TRUE(byName.count("Rlink"));
  EXPECT_FALSE(byName["Rlink"]->IsDirectory());
  const std::string target = byName["Rlink"]->FilePath();
  EXPECT_TRUE(target.empty() || target == "R1.txt") << target;

  // The same through the folder query, and a folder inside it.
  auto again = m_ftp->GetFtpDirectoryInfo("/pub");
  EXPECT_EQ(Names(again.get()).size(), 7u) << m_ftp->ErrorInfo();
  EXPECT_THAT(Names(m_ftp->GetFtpDirectoryInfo("pub/Rsub").get()), UnorderedElementsAre("inner.txt"));
  for (const char* path : {"pub", "/pub/sub", "pub/Rsub/"}) {
    EXPECT_TRUE(m_ftp->ExistDirectory(path)) << path << ": " << m_ftp->ErrorInfo();
  }
}

TEST_P(ListingInteropTest, Patterns) {
  struct Row {
    const char* path;
    std::vector<std::string> names;
  };
  for (const Row& row : {Row{"pub/R*", {"R1.txt", "R2.txt", "Rlink", "Rsub"}}, Row{"pub/R?.txt", {"R1.txt", "R2.txt"}},
                         Row{"/pub/r*", {"r3.txt"}}, Row{"pub/*.txt", {"R1.txt", "R2.txt", "r3.txt", "a.txt"}},
                         Row{"pub/Rsub/*", {"inner.txt"}}}) {
    SCOPED_TRACE(row.path);
    EXPECT_THAT(Names(m_ftp->GetRemoteFilesInfo(row.path).get()), UnorderedElementsAreArray(row.names));
    EXPECT_EQ(m_ftp->ErrorNumber(), 0) << m_ftp->ErrorInfo();
    EXPECT_THAT(Names(m_ftp->GetFtpDirectoryInfo(row.path).get()), UnorderedElementsAreArray(row.names));
  }
  // Nothing matches: no entries, and no error.
  EXPECT_EQ(m_ftp->GetFtpDirectoryInfo("pub/Q*"), nullptr);
  EXPECT_EQ(m_ftp->ErrorNumber(), 0) << m_ftp->ErrorInfo();
  ExpectSessionUsable();
}

TEST_P(ListingInteropTest, PathWithASpace) {
  EXPECT_THAT(Names(m_ftp->GetFtpDirectoryInfo("my dir").get()), UnorderedElementsAre("a b.txt", "R x.txt"));
  EXPECT_THAT(Names(m_ftp->GetFtpDirectoryInfo("/my dir/R*").get()), UnorderedElementsAre("R x.txt"));
  EXPECT_TRUE(m_ftp->ExistDirectory("my dir"));
  EXPECT_EQ(m_ftp->GetFtpFileSize("/my dir/a b.txt"), 7);
  auto info = m_ftp->GetFtpFileInfo("my dir/R x.txt");
  ASSERT_NE(info, nullptr) << m_ftp->ErrorInfo();
  EXPECT_EQ(info->FileName(), "R x.txt");
  // Each query changed back to where the session was.
  EXPECT_EQ(m_ftp->GetCurrentDirectory(), "/");
  ExpectSessionUsable();
}

TEST_P(ListingInteropTest, MissingPath) {
  EXPECT_EQ(m_ftp->GetFtpDirectoryInfo("nope"), nullptr);
  EXPECT_NE(m_ftp->ErrorNumber(), 0);
  EXPECT_EQ(m_ftp->GetFtpDirectoryInfo("nope/R*"), nullptr);
  EXPECT_NE(m_ftp->ErrorNumber(), 0);
  EXPECT_EQ(m_ftp->GetFtpFileInfo("pub/nope.txt"), nullptr);
  EXPECT_NE(m_ftp->ErrorNumber(), 0);
  EXPECT_EQ(m_ftp->GetFtpFileSize("pub/nope.txt"), -1);
  EXPECT_EQ(m_ftp->ErrorNumber(), kErrRemoteFileMissing);
  EXPECT_EQ(m_ftp->GetRemoteFilesInfo("nope/"), nullptr);
  ExpectSessionUsable();
}

TEST_P(ListingInteropTest, MissingFolderForExistDirectory) {
  for (const char* path : {"nope", "/nope/", "pub/nope", "nope/deeper"}) {
    EXPECT_FALSE(m_ftp->ExistDirectory(path)) << path;
    EXPECT_NE(m_ftp->ErrorNumber(), 0) << path;
    EXPECT_EQ(m_ftp->Operation(), kOpNone);
  }
  EXPECT_EQ(m_ftp->GetCurrentDirectory(), "/");
  ExpectSessionUsable();
}

TEST_P(ListingInteropTest, FilePaths) {
  auto info = m_ftp->GetFtpFileInfo("pub/R2.txt");
  ASSERT_NE(info, nullptr) << m_ftp->ErrorInfo();
  EXPECT_EQ(info->FileSize(), 3000);
  EXPECT_FALSE(info->IsDirectory());
  EXPECT_EQ(m_ftp->GetFtpFileSize("/pub/a.txt"), 7);
  // A file is no folder.
  EXPECT_EQ(m_ftp->GetFtpDirectoryInfo("pub/a.txt"), nullptr);
  EXPECT_EQ(m_ftp->ErrorNumber(), kErrRemoteFolderMissing);
  EXPECT_FALSE(m_ftp->ExistDirectory("pub/a.txt"));
  ExpectSessionUsable();
}

INSTANTIATE_TEST_SUITE_P(Servers, ListingInteropTest,
                         ::testing::Combine(::testing::ValuesIn(test::AllFtpServerKinds()), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<Mode>& info) {
                           std::string name = test::FtpServerKindName(std::get<0>(info.param));
                           for (char& c : name) {
                             if (c == '-') c = '_';
                           }
                           return name + (std::get<1>(info.param) ? "_passive" : "_active");
                         });

}  // namespace
}  // namespace pellan
