// pellan-sync killed (SIGKILL) at each step of an upload and of a download,
// then started again and left to run until all is quiet: each file is whole
// and once on the side it was going to, nothing partial sits under a final
// name, and no temporary file is left.
#include <signal.h>
#include <sys/stat.h>

#include <functional>
#include <memory>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client_process.h"
#include "support/fake_ftp_server.h"

namespace pellan::client {
namespace {

using pellan::test::FakeFtpServer;

TEST(CrashSafety, AKillAtAnyStepOfATransferLosesNothing) {
  const std::string up(3'000'000, 'u'), down(3'000'000, 'd');
  enum Answer { kNone, kAfterKill, kPartOfTheData };
  const struct {
    const char* step;
    const char* command;  // the kill comes as this command arrives
    Answer answer;
    bool reply;  // a reply Rbig.txt comes down after the upload
  } rows[] = {
      {"before the STOR", "STOR data/_Tbig.txt.part", kNone, false},
      {"during the STOR", "STOR data/_Tbig.txt.part", kPartOfTheData, false},
      {"before the rename", "RNFR data/_Tbig.txt.part", kNone, false},
      {"after the rename, before the local delete", "RNTO data/Tbig.txt", kAfterKill, false},
      {"during the RETR", "RETR data/Rbig.txt", kPartOfTheData, true},
      {"after the local rename, before the DELE", "DELE data/Rbig.txt", kNone, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.step);
    pellan::test::ScopedLoop loop;
    TempDir home, state;
    FakeFtpServer server;
    server.Login().AnswerByDefault();
    server.ListFiles();
    mkdir(home.File("data").c_str(), 0755);
    ASSERT_TRUE(WriteWholeFile(home.File("data/Tbig.txt"), up));
    ASSERT_TRUE(WriteWholeFile(home.File("maoph.txt"), home.File("data") + "\r\n127.0.0.1\r\n" +
                                                           std::to_string(server.Port()) + "\r\nuser\r\npass\r\n"));
    std::unique_ptr<ChildProcess> client;
    const auto start = [&](const char* tag) {
      client = std::make_unique<ChildProcess>(
          std::vector<std::string>{"pellan-sync", "--home", home.Path(), "--headless"},
          std::vector<std::string>{"XDG_STATE_HOME=" + state.Path(), "LANG=C"}, home.File(tag));
    };
    const auto kill = [&] {
      client->Signal(SIGKILL);
      EXPECT_TRUE(client->WaitEnd(10s));
    };
    if (row.reply) server.OnCommand("RNTO data/Tbig.txt", [&] { return server.SetFile("data/Rbig.txt", down), false; });
    server.OnCommand(row.command, [&] {
      if (row.answer == kAfterKill) kill();
      if (row.answer == kPartOfTheData && !row.reply) {
        server.Reply("150 Ok to send data.").DataAccept().Delay(20ms).Do([&] {
          server.SetFile("data/_Tbig.txt.part", up.substr(0, 1000));  // what a server keeps of it
          kill();
        });
      }
      if (row.answer == kPartOfTheData && row.reply) {
        server.Reply("150 Opening.").DataSend(down.substr(0, 100'000)).Delay(20ms).Do(kill);
      }
      if (row.answer == kNone) kill();
      return row.answer != kAfterKill;
    });
    start("first");
    ASSERT_TRUE(loop.Loop().WaitFor([&] { return client->Ended(); }, 60s)) << client->Out();
    EXPECT_EQ(client->ExitStatus(), -1) << "not killed";

    // Started again, it finishes the work.
    start("second");
    const Tree local = row.reply ? Tree{{"Rbig.txt", down}} : Tree{};
    const std::map<std::string, std::string> remote = {{"data/Tbig.txt", up}};
    LoopTimer look(100ms, [] {}, true);
    EXPECT_TRUE(loop.Loop().WaitFor(
        [&] {
          auto files = server.Files();
          // A reply already whole at home may keep its server copy until the next batch clears it.
          if (row.answer == kNone && row.reply) files.erase("data/Rbig.txt");
          return ReadTree(home.File("data")) == local && files == remote;
        },
        60s))
        << client->Out() << "\nlocal: " << ReadTree(home.File("data")).size() << " server: " << server.Files().size();
    client->Signal(SIGTERM);
    EXPECT_TRUE(client->WaitEnd(10s));
  }
}

}  // namespace
}  // namespace pellan::client
