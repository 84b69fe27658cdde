// Downloads and uploads against the real servers, in passive and active
// mode: folder trees (empty files among them), patterns, ASCII,
// a few megabytes of binary, and jobs cut short by Abort and AbortCurrent.
// Every transfer is compared byte for byte with its source.
#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <tuple>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "net/socket_support.h"
#include "support/scratch_state_home.h"
#include "transfer_helpers.h"

namespace pellan::test {
namespace {

class TransferInteropTest : public ::testing::TestWithParam<std::tuple<FtpServerKind, bool>> {
 protected:
  void SetUp() override {
    m_server = MakeFtpServer(std::get<0>(GetParam()));
    PELLAN_START_FTP_SERVER_OR_SKIP(*m_server);
    m_ftp = RealControl(*m_server, std::get<1>(GetParam()));
    m_events.Attach(*m_ftp);
  }
  void TearDown() override {
    if (m_ftp) m_ftp->CloseConnection();
    m_ftp.reset();
    g_blnConnecting = false;
  }

  bool Download(const std::string& remote, const std::string& local, bool createFolder = true) {
    m_ftp->SetRemotePath(remote);
    m_ftp->SetLocalPath(local);
    return m_ftp->DownLoad(createFolder);
  }
  bool Upload(const std::string& local, const std::string& remote, bool createFolder = true) {
    m_ftp->SetLocalPath(local);
    m_ftp->SetRemotePath(remote);
    return m_ftp->UpLoad(createFolder);
  }
  std::string Why() const {
    return std::to_string(m_ftp->ErrorNumber()) + " " + m_ftp->ErrorInfo() + "\n" + m_server->Log();
  }

  ScopedLoop m_loop;  // real time: these servers run on their own clocks
  std::unique_ptr<RealFtpServer> m_server;
  std::unique_ptr<FtpLibrary> m_ftp;
  EventRecorder m_events;
  TempDir m_local;
};

// A small tree with every kind of entry a walk meets.
const std::map<std::string, std::string>& SampleTree() {
  static const std::map<std::string, std::string> tree = {
      {"a.txt", "alpha\r\nbeta\n"},
      {"b.bin", RandomBytes(70'000, 1)},
      {"zero.dat", ""},
      {"sub/", ""},
      {"sub/c.txt", "gamma"},
      {"sub/deeper/", ""},
      {"sub/deeper/d.bin", RandomBytes(5'000, 2)},
      {"empty/", ""},
  };
  return tree;
}

TEST_P(TransferInteropTest, DownloadsATreeIntoAFolderItCreates) {
  for (const auto& [path, content] : SampleTree()) {
    ASSERT_TRUE(path.back() == '/' ? m_server->MakeFolder("pub/" + path) : m_server->PutFile("pub/" + path, content));
  }
  // Each folder's files are a queue of their own.
  std::map<std::string, std::pair<long, long>> positions;
  m_ftp->OnTransfer = [&] { positions[m_ftp->LocalPath()] = {m_ftp->QueueIndex(), m_ftp->QueueTotal()}; };
  const std::string target = m_local.File("in/");
  ASSERT_TRUE(Download("/pub/", target)) << Why();
  EXPECT_EQ(ReadTree(m_local.File("in")), SampleTree());
  EXPECT_EQ(m_events.errors, 0);
  const std::string in = m_local.File("in/");
  EXPECT_EQ(positions.size(), 5u);
  EXPECT_EQ(positions[in + "sub/deeper/d.bin"], std::make_pair(1L, 1L));
  EXPECT_EQ(positions[in + "sub/c.txt"], std::make_pair(1L, 1L));
  EXPECT_EQ(positions[in + "zero.dat"].second, 3);
}

TEST_P(TransferInteropTest, UploadsATreeIntoAFolderItCreates) {
  const std::string source = m_local.File("out");
  std::filesystem::create_directories(source);
  for (const auto& [path, content] : SampleTree()) {
    if (path.back() == '/') {
      std::filesystem::create_directories(source + "/" + path);
    } else {
      ASSERT_TRUE(WriteWholeFile(source + "/" + path, content));
    }
  }
  ASSERT_TRUE(Upload(source + "/", "/up/tree/")) << Why();
  EXPECT_EQ(ReadTree(m_server->LocalPath("up/tree")), SampleTree());
  EXPECT_EQ(m_events.errors, 0);
}

TEST_P(TransferInteropTest, PatternsTakeOnlyTheMatchingFilesOfOneFolder) {
  ASSERT_TRUE(m_server->PutFile("pub/r1.txt", "one"));
  ASSERT_TRUE(m_server->PutFile("pub/r2.txt", "two"));
  ASSERT_TRUE(m_server->PutFile("pub/r3.bin", "three"));
  ASSERT_TRUE(m_server->PutFile("pub/sub/r4.txt", "four"));
  ASSERT_TRUE(Download("/pub/r?.txt", m_local.File("got/"))) << Why();
  EXPECT_EQ(ReadTree(m_local.File("got")),
            (std::map<std::string, std::string>{{"r1.txt", "one"}, {"r2.txt", "two"}}));

  const std::string source = m_local.File("src");
  std::filesystem::create_directories(source + "/sub");
  ASSERT_TRUE(WriteWholeFile(source + "/x1.txt", "x one"));
  ASSERT_TRUE(WriteWholeFile(source + "/x2.log", "x two"));
  ASSERT_TRUE(WriteWholeFile(source + "/sub/x3.txt", "x three"));
  ASSERT_TRUE(Upload(source + "/*.txt", "/w/")) << Why();
  EXPECT_EQ(ReadTree(m_server->LocalPath("w")), (std::map<std::string, std::string>{{"x1.txt", "x one"}}));
}

// In ASCII mode a server may rewrite line ends its own way (pure-ftpd sends
// every LF as CR LF, vsftpd leaves them); the lines themselves arrive intact.
std::string WithoutCr(std::string s) {
  s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
  return s;
}

TEST_P(TransferInteropTest, AsciiModeBothWays) {
  const std::string text = "first line\nsecond line\n\nlast line, with a tab\t\n";
  ASSERT_TRUE(m_server->PutFile("t/down.txt", text));
  m_ftp->SetTransferMode(0);
  const std::string local = m_local.File("down.txt");
  ASSERT_TRUE(Download("/t/down.txt", local)) << Why();
  EXPECT_EQ(WithoutCr(ReadWholeFile(local)), text);
  EXPECT_TRUE(m_events.Sent("TYPE A"));

  const std::string up = m_local.File("up.txt");
  ASSERT_TRUE(WriteWholeFile(up, text));
  ASSERT_TRUE(Upload(up, "/t/up.txt")) << Why();
  EXPECT_EQ(WithoutCr(ReadWholeFile(m_server->LocalPath("t/up.txt"))), text);
  EXPECT_EQ(m_events.CountSent("TYPE I"), 1u);  // only for the size asked before the download
}

TEST_P(TransferInteropTest, MegabytesOfBinaryGoUpAndComeBackUnchanged) {
  const std::string content = RandomBytes(3 * 1024 * 1024 + 17, 6);
  const std::string up = m_local.File("big.bin");
  ASSERT_TRUE(WriteWholeFile(up, content));
  ASSERT_TRUE(Upload(up, "/big/big.bin")) << Why();
  EXPECT_TRUE(ReadWholeFile(m_server->LocalPath("big/big.bin")) == content);
  EXPECT_EQ(m_ftp->TransferSize(), static_cast<double>(content.size()));

  const std::string down = m_local.File("back.bin");
  ASSERT_TRUE(Download("/big/big.bin", down)) << Why();
  EXPECT_TRUE(ReadWholeFile(down) == content);
  EXPECT_EQ(m_ftp->FileSize(), static_cast<double>(content.size()));
}

TEST_P(TransferInteropTest, AbortCurrentOnTheSecondOfThreeUploadsSendsTheThird) {
  const std::string one = RandomBytes(2'000, 7), two = RandomBytes(4 * 1024 * 1024, 8), three = RandomBytes(3'000, 9);
  ASSERT_TRUE(WriteWholeFile(m_local.File("1.bin"), one));
  ASSERT_TRUE(WriteWholeFile(m_local.File("2.bin"), two));
  ASSERT_TRUE(WriteWholeFile(m_local.File("3.bin"), three));
  bool aborted = false;
  m_ftp->OnTransfer = [&] {
    if (!aborted && m_ftp->QueueIndex() == 2 && m_ftp->TransferSize() > 0) {
      aborted = true;
      m_ftp->AbortCurrent();
    }
  };
  const std::string second = m_local.File("2.bin");
  ASSERT_TRUE(Upload(m_local.File("1.bin") + "|" + second + "|" + m_local.File("3.bin"), "/q/")) << Why();
  EXPECT_TRUE(aborted);
  EXPECT_EQ(m_ftp->AbortedFileList(), second);
  EXPECT_EQ(ReadWholeFile(m_server->LocalPath("q/1.bin")), one);
  EXPECT_EQ(ReadWholeFile(m_server->LocalPath("q/3.bin")), three);
  // Whatever the server kept of the second file is a beginning of it.
  const std::string kept = ReadWholeFile(m_server->LocalPath("q/2.bin"));
  EXPECT_LT(kept.size(), two.size());
  EXPECT_TRUE(two.compare(0, kept.size(), kept) == 0);
}

TEST_P(TransferInteropTest, AbortInTheMiddleOfADownloadJobEndsItAndKeepsTheSessionUsable) {
  const std::string one = RandomBytes(2'000, 10), two = RandomBytes(4 * 1024 * 1024, 11), three = "third";
  ASSERT_TRUE(m_server->PutFile("d/1.bin", one));
  ASSERT_TRUE(m_server->PutFile("d/2.bin", two));
  ASSERT_TRUE(m_server->PutFile("d/3.bin", three));
  bool aborted = false;
  m_ftp->OnTransfer = [&] {
    if (!aborted && m_ftp->QueueIndex() == 2 && m_ftp->TransferSize() > 0) {
      aborted = true;
      m_ftp->Abort();
    }
  };
  const std::string target = m_local.File("d/");
  EXPECT_FALSE(Download("/d/1.bin|/d/2.bin|/d/3.bin", target));
  EXPECT_EQ(m_ftp->ErrorNumber(), kErrCanceled);
  EXPECT_EQ(m_events.errors, 0);
  EXPECT_EQ(ReadWholeFile(m_local.File("d/1.bin")), one);
  const std::string kept = ReadWholeFile(m_local.File("d/2.bin"));
  EXPECT_LT(kept.size(), two.size());
  EXPECT_TRUE(two.compare(0, kept.size(), kept) == 0);
  EXPECT_FALSE(Exists(m_local.File("d/3.bin")));
  // The next job runs on a clean exchange, and resumes the cut file.
  m_ftp->OnTransfer = nullptr;
  ASSERT_TRUE(Download("/d/2.bin|/d/3.bin", target)) << Why();
  EXPECT_TRUE(ReadWholeFile(m_local.File("d/2.bin")) == two);
  EXPECT_EQ(ReadWholeFile(m_local.File("d/3.bin")), three);
  EXPECT_EQ(ReadWholeFile(m_server->LocalPath("d/2.bin")).size(), two.size());
}

INSTANTIATE_TEST_SUITE_P(Servers, TransferInteropTest,
                         ::testing::Combine(::testing::ValuesIn(AllFtpServerKinds()), ::testing::Bool()),
                         [](const auto& info) {
                           std::string name = FtpServerKindName(std::get<0>(info.param));
                           name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                           return name + (std::get<1>(info.param) ? "_passive" : "_active");
                         });

}  // namespace
}  // namespace pellan::test
