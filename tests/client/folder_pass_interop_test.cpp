// The folder pass of the pellan-sync program itself against pyftpdlib and
// vsftpd: files go up and come down, what must stay stays, the clean-up
// before a batch passes over folders, a close in the middle of a batch
// loses nothing on either side, and Chinese names go both ways in GBK.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client_process.h"
#include "platform/code_page.h"
#include "support/ftp_servers.h"
#include "support/test_env.h"

namespace pellan::client {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using pellan::test::TempDir;
using pellan::test::WriteWholeFile;

std::vector<std::string> NamesIn(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

template <typename Server>
class FolderPassInteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PELLAN_START_FTP_SERVER_OR_SKIP(m_server);
    mkdir(Path("data").c_str(), 0755);
    ASSERT_TRUE(m_server.MakeFolder("data"));
    const std::string text = Path("data") + "\r\n127.0.0.1\r\n" + std::to_string(m_server.Port()) + "\r\n" +
                             m_server.User() + "\r\n" + m_server.Password() + "\r\n";
    ASSERT_TRUE(WriteWholeFile(Path("maoph.txt"), text));
    chmod(Path("maoph.txt").c_str(), 0600);
  }
  std::string Path(const std::string& name) const { return m_home.File(name); }
  std::string Local(const std::string& name) const { return Path("data/" + name); }
  std::string Remote(const std::string& name) const { return m_server.LocalPath("data/" + name); }
  void PutLocal(const std::string& name, const std::string& content) {
    ASSERT_TRUE(WriteWholeFile(Local(name), content));
  }
  std::unique_ptr<ClientProcess> Start() {
    auto p = std::make_unique<ClientProcess>(m_home.Path(), m_state.Path(), "run");
    EXPECT_TRUE(p->Started());
    return p;
  }
  // Asks the client to close as its companion does, and waits for it.
  void Close(ClientProcess& client) {
    ASSERT_TRUE(WriteWholeFile(Path("exit.txt"), ""));
    ASSERT_TRUE(client.WaitEnd(20s)) << client.Out();
    EXPECT_EQ(client.ExitStatus(), 0);
    EXPECT_EQ(ReadWholeFile(Path("clo.txt")), "\r\n");
  }

  Server m_server;
  TempDir m_home;
  TempDir m_state;
};

using Servers = ::testing::Types<pellan::test::PyftpdlibServer, pellan::test::VsftpdServer>;
TYPED_TEST_SUITE(FolderPassInteropTest, Servers);

TYPED_TEST(FolderPassInteropTest, TFilesGoUpRFilesComeDownAndTheRestStays) {
  this->PutLocal("Tq1.txt", "order 1\r\nqty 10\r\n");
  this->PutLocal("Tas.m", "s.m is found inside .xls.mao.txt.\r\n");
  this->PutLocal("Tq1.doc", "kept: not a type we send\r\n");
  this->PutLocal("q1.txt", "kept: not outgoing\r\n");
  this->PutLocal("Ra1.txt", "old reply\r\n");
  ASSERT_TRUE(this->m_server.MakeFolder("data/Rdir"));
  ASSERT_TRUE(this->m_server.PutFile("data/Rdir/Rinside.txt", "inside a folder\r\n"));

  auto client = this->Start();
  ASSERT_TRUE(PollUntil([&] { return !Exists(this->Local("Tq1.txt")) && !Exists(this->Local("Tas.m")); }, 30s))
      << client->Out() << client->Err();
  // The reply arrives after the batch (the first upload clears old ones),
  // written aside and renamed as the other side's program should.
  ASSERT_TRUE(this->m_server.PutFile("data/_Ra1", "new reply, longer than the old one\r\n"));
  ASSERT_EQ(rename(this->Remote("_Ra1").c_str(), this->Remote("Ra1.txt").c_str()), 0);
  ASSERT_TRUE(PollUntil([&] { return !Exists(this->Remote("Ra1.txt")); }, 30s)) << client->Out() << client->Err();
  this->Close(*client);

  // Server: the uploads whole under their own names, the folder untouched.
  EXPECT_EQ(ReadWholeFile(this->Remote("Tq1.txt")), "order 1\r\nqty 10\r\n");
  EXPECT_EQ(ReadWholeFile(this->Remote("Tas.m")), "s.m is found inside .xls.mao.txt.\r\n");
  EXPECT_THAT(NamesIn(this->Remote("")), ElementsAre("Rdir", "Tas.m", "Tq1.txt"));
  EXPECT_THAT(NamesIn(this->Remote("Rdir")), ElementsAre("Rinside.txt"));
  // Local: the reply replaced the older copy, no .tmp, the rest as it was.
  EXPECT_EQ(ReadWholeFile(this->Local("Ra1.txt")), "new reply, longer than the old one\r\n");
  EXPECT_THAT(NamesIn(this->Local("")), ElementsAre("Ra1.txt", "Tq1.doc", "q1.txt"));
  EXPECT_EQ(ReadWholeFile(this->Local("Tq1.doc")), "kept: not a type we send\r\n");

  const std::string out = client->Out();
  EXPECT_THAT(out, HasSubstr("] Tq1.txt:上传完成\n"));
  EXPECT_THAT(out, HasSubstr("] Tq1.txt:删除完成\n"));
  EXPECT_THAT(out, HasSubstr("] Ra1.txt:下载完成\n"));
  EXPECT_THAT(out, HasSubstr("] Ra1.txt:删除完成\n"));
  const std::string log = ReadWholeFile(this->Path("plnrc.log"));
  EXPECT_THAT(log, HasSubstr("Type mismatch:[.xls.mao.txt.#doc]"));
  EXPECT_THAT(log, Not(HasSubstr("[q1.txt]")));
  EXPECT_THAT(log, Not(HasSubstr("Rdir]")));
}

// At start-up the last batch's replies are cleared before the first upload;
// the numbering counts every listed entry, folders included, which are
// never deleted.
TYPED_TEST(FolderPassInteropTest, TheFirstUploadClearsOldRepliesButNotFolders) {
  ASSERT_TRUE(this->m_server.MakeFolder("data/Ra"));
  ASSERT_TRUE(this->m_server.PutFile("data/Rold.txt", "last batch\r\n"));
  this->PutLocal("Tq1.txt", "batch\r\n");

  auto client = this->Start();
  ASSERT_TRUE(PollUntil([&] { return !Exists(this->Local("Tq1.txt")); }, 30s)) << client->Out() << client->Err();
  this->Close(*client);

  EXPECT_THAT(NamesIn(this->Remote("")), ElementsAre("Ra", "Tq1.txt"));
  EXPECT_EQ(ReadWholeFile(this->Remote("Tq1.txt")), "batch\r\n");
  // Cleared, not fetched.
  EXPECT_THAT(NamesIn(this->Local("")), ElementsAre());
  const std::string out = client->Out();
  std::smatch m;
  ASSERT_TRUE(std::regex_search(out, m, std::regex("] 删除文件([0-9]+):\\[data/Rold\\.txt\\]\n"))) << out;
  EXPECT_THAT(out, Not(HasSubstr(":[data/Ra]")));
  // Numbered in listing order over both entries.
  EXPECT_TRUE(m[1] == "1" || m[1] == "2") << m[1];
  EXPECT_THAT(out, HasSubstr("] Rold.txt:删除完成\n"));
  const std::string log = ReadWholeFile(this->Path("plnrc.log"));
  EXPECT_LT(log.find("清除完成."), log.find("Tq1.txt:上传完成"));
}

// A close request in the middle of a batch: every file is whole on one side
// at least, nothing partial sits on the server under a final name, and the
// files not yet sent are still there locally.
TYPED_TEST(FolderPassInteropTest, AnExitInTheMiddleOfABatchLosesNothing) {
  const std::string body(64 * 1024, 'x');
  constexpr int kFiles = 400;
  std::vector<std::string> names;
  for (int i = 0; i < kFiles; ++i) {
    char name[32];
    snprintf(name, sizeof name, "T%03d.txt", i);
    names.push_back(name);
    this->PutLocal(name, body + name);
  }
  auto client = this->Start();
  ASSERT_TRUE(PollUntil([&] { return !Exists(this->Local(names[2])); }, 30s)) << client->Out() << client->Err();
  this->Close(*client);

  int sent = 0, kept = 0, partial = 0;
  for (const std::string& name : names) {
    const bool local = Exists(this->Local(name));
    const bool remote = Exists(this->Remote(name));
    EXPECT_TRUE(local || remote) << name << " lost";
    if (local) {
      ++kept;
      EXPECT_EQ(ReadWholeFile(this->Local(name)), body + name);
    }
    if (remote && ReadWholeFile(this->Remote(name)) != body + name) {
      // Only the file in flight, and only with its whole local copy kept.
      ++partial;
      EXPECT_TRUE(local) << name << " partial on the server and gone locally";
    } else if (remote && !local) {
      ++sent;
    }
  }
  // The exit takes the cut upload's copy off the server, logging in afresh
  // when the abort ended the session.
  EXPECT_EQ(partial, 0);
  EXPECT_GE(sent, 3);
  EXPECT_GE(kept, 1) << "the batch was not interrupted; the test proves nothing";
}

// With --codepage GBK, names on the server are GBK and local ones stay
// UTF-8, the folder named in the path file included: a Chinese name goes up
// and one comes down. vsftpd keeps names as the bytes it was sent.
TEST(FolderPassGbkInteropTest, ChineseNamesAreGbkOnTheServerAndUtf8OnTheDisk) {
  pellan::test::VsftpdServer server;
  PELLAN_START_FTP_SERVER_OR_SKIP(server);
  TempDir home, state;
  const std::string folder = home.File("交换");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  const std::string site = folder + "\r\n127.0.0.1\r\n" + std::to_string(server.Port()) + "\r\n" + server.User() +
                           "\r\n" + server.Password() + "\r\n";
  ASSERT_TRUE(WriteWholeFile(home.File("maoph.txt"), site));
  chmod(home.File("maoph.txt").c_str(), 0600);
  ASSERT_TRUE(WriteWholeFile(folder + "/T订单1.txt", "order 1\r\n"));
  auto gbk = [](const std::string& text) { return EncodeText(text, CodePage::kGbk); };
  const std::string sent = server.LocalPath(gbk("交换/T订单1.txt"));
  const std::string reply = server.LocalPath(gbk("交换/R回执1.txt"));

  ClientProcess client(home.Path(), state.Path(), "run", false, {}, {"--codepage", "GBK"});
  ASSERT_TRUE(client.Started());
  ASSERT_TRUE(PollUntil([&] { return !Exists(folder + "/T订单1.txt"); }, 30s)) << client.Out() << client.Err();
  EXPECT_EQ(ReadWholeFile(sent), "order 1\r\n");
  ASSERT_TRUE(server.PutFile(gbk("交换/_r"), "reply 1\r\n"));
  ASSERT_EQ(rename(server.LocalPath(gbk("交换/_r")).c_str(), reply.c_str()), 0);
  ASSERT_TRUE(PollUntil([&] { return !Exists(reply); }, 30s)) << client.Out() << client.Err();
  ASSERT_TRUE(WriteWholeFile(home.File("exit.txt"), ""));
  ASSERT_TRUE(client.WaitEnd(20s)) << client.Out();

  EXPECT_EQ(ReadWholeFile(folder + "/R回执1.txt"), "reply 1\r\n");
  EXPECT_THAT(NamesIn(folder), ElementsAre("R回执1.txt"));
  EXPECT_THAT(NamesIn(server.LocalPath(gbk("交换"))), ElementsAre(gbk("T订单1.txt")));
  EXPECT_THAT(client.Out(), HasSubstr("] T订单1.txt:上传完成\n"));
}

}  // namespace
}  // namespace pellan::client
