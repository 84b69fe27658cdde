// The session engine against the scripted server: login, the reply cycle,
// time-outs, keep-alive, abort and close, and the command operations.
#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ftp/ftp_library.h"
#include "net/socket_support.h"
#include "support/encrypt.h"
#include "support/error_record.h"
#include "support/fake_ftp_server.h"
#include "support/scripted_control.h"
#include "support/scratch_state_home.h"
#include "support/test_env.h"

namespace pellan {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using test::FakeFtpServer;


class FtpSessionTest : public ::testing::Test {
 protected:
  FtpSessionTest() : m_loop(true, std::chrono::milliseconds(1)) {
    m_ftp = test::ScriptedControl(m_server.Port());
    m_ftp->OnStateChange = [this](long s) { m_states.push_back(s); };
    m_ftp->OnError = [this] { ++m_errors; };
    m_ftp->ServerMessage = [this](const std::string& m, long type) { m_messages.push_back(std::to_string(type) + ":" + m); };
  }
  ~FtpSessionTest() override {
    m_ftp.reset();
    g_blnConnecting = false;
  }
  bool LoginOk() {
    m_server.Login();
    const bool ok = m_ftp->Connect();
    m_states.clear();
    m_messages.clear();
    return ok;
  }

  test::ScopedLoop m_loop;
  FakeFtpServer m_server;
  std::unique_ptr<FtpLibrary> m_ftp;
  std::vector<long> m_states;
  std::vector<std::string> m_messages;
  int m_errors = 0;
};

TEST_F(FtpSessionTest, LoginSendsDecipheredUserAndPassAndStartsBothTimers) {
  m_server.Login("user", "pass");
  ASSERT_TRUE(m_ftp->Connect());
  EXPECT_TRUE(m_ftp->Connected());
  EXPECT_EQ(m_states, (std::vector<long>{2, 3, 4, 4, 0}));
  EXPECT_THAT(m_server.Transcript(), ElementsAre("USER user", "PASS pass"));
  EXPECT_THAT(m_messages, ElementsAre(::testing::StartsWith("1:220"), "0:USER user", ::testing::StartsWith("1:331"),
                                      "0:PASS ********", ::testing::StartsWith("1:230")));
  EXPECT_TRUE(m_ftp->KeepAliveRunning());
  EXPECT_TRUE(m_ftp->WatchdogRunning());
  EXPECT_EQ(m_ftp->ErrorNumber(), 0);
  EXPECT_EQ(m_errors, 0);
  EXPECT_THAT(m_server.Failures(), IsEmpty());
  EXPECT_TRUE(m_ftp->Connect());  // already connected: nothing sent
  EXPECT_EQ(m_server.Transcript().size(), 2u);
}

TEST_F(FtpSessionTest, BlankUserLogsInAsAnonymous) {
  m_ftp->SetUserName("   ");
  m_ftp->SetPassWord("");
  m_server.Reply("220 hi").Expect("USER anonymous", "331 any password").Expect("PASS", "230 ok");
  ASSERT_TRUE(m_ftp->Connect());
  EXPECT_EQ(m_ftp->UserName(), "anonymous");
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

TEST_F(FtpSessionTest, RefusedPasswordIs16530WithTheServersLine) {
  m_server.Reply("220 hi").Expect("USER user", "331 pw").Expect("PASS pass", "530 Login incorrect.");
  EXPECT_FALSE(m_ftp->Connect());
  EXPECT_EQ(m_ftp->ErrorNumber(), 16530);
  EXPECT_EQ(m_ftp->ErrorInfo(), "530 Login incorrect.");
  EXPECT_EQ(m_errors, 1);
  EXPECT_FALSE(m_ftp->Connected());
  EXPECT_FALSE(g_blnConnecting);
  m_loop.Loop().RunFor(100ms);
  EXPECT_FALSE(m_server.ControlOpen());  // the session was closed
}

TEST_F(FtpSessionTest, ByteByByteRepliesAndNulsInThem) {
  ASSERT_TRUE(LoginOk());
  m_server.Expect("PWD").SendRaw(std::string("257 \"/in\0box\" is cwd\r\n", 23), {.chunk = 1, .gap = 3ms});
  EXPECT_EQ(m_ftp->GetCurrentDirectory(), std::string("/in\0box", 7));
  EXPECT_EQ(m_ftp->ErrorNumber(), 0);
}

TEST_F(FtpSessionTest, ServerThatNeverAnswersTimesOutInVirtualTime) {
  ASSERT_TRUE(LoginOk());
  m_ftp->SetKeepConnSecond(0);
  m_server.Expect("PWD").Stall();
  const auto before = m_loop.Clock()->Elapsed();
  EXPECT_EQ(m_ftp->GetCurrentDirectory(), "");
  EXPECT_EQ(m_ftp->ErrorNumber(), 20004);
  EXPECT_EQ(m_ftp->ErrorInfo(), "Operation timed out");
  EXPECT_EQ(m_errors, 1);
  const auto waited = m_loop.Clock()->Elapsed() - before;
  EXPECT_GE(waited, Duration(30s));
  EXPECT_LT(waited, Duration(31s));
}

TEST_F(FtpSessionTest, ConnectionRefusedIsTheSocketError) {
  long port = 0;
  {
    FakeFtpServer gone;  // a port where nothing listens any more
    port = gone.Port();
  }
  m_ftp->SetRemotePort(port);
  EXPECT_FALSE(m_ftp->Connect());
  EXPECT_EQ(m_ftp->ErrorNumber(), 10061);
  EXPECT_EQ(m_ftp->ErrorInfo(), "Connection refused");
  EXPECT_FALSE(g_blnConnecting);
  EXPECT_EQ(m_ftp->GetCurrentDirectory(), "");  // a command tries again, and fails the same way
  EXPECT_EQ(m_ftp->ErrorNumber(), 10061);
}

TEST_F(FtpSessionTest, KeepAlivePwdAfterSilenceAndNeverWhenOff) {
  ASSERT_TRUE(LoginOk());
  m_ftp->SetKeepConnSecond(60);
  m_server.AnswerByDefault();
  m_loop.Loop().RunFor(59s);
  EXPECT_EQ(m_server.Transcript().size(), 2u);
  m_loop.Loop().RunFor(4s);  // more than 60 whole seconds: the next tick sends PWD
  ASSERT_EQ(m_server.Transcript().size(), 3u);
  EXPECT_EQ(m_server.Transcript()[2], "PWD");
  EXPECT_THAT(m_messages, ::testing::Contains("0:PWD "));
  EXPECT_EQ(m_ftp->FtpState(), kFtpListing);  // PWD leaves the state at listing
  m_loop.Loop().RunFor(62s);
  EXPECT_EQ(m_server.Transcript().size(), 4u);

  m_ftp->SetKeepConnSecond(0);
  m_loop.Loop().RunFor(300s);
  EXPECT_EQ(m_server.Transcript().size(), 4u);
}

TEST_F(FtpSessionTest, IdleAbortDoesNothingAndCloseConnectionSendsQuit) {
  ASSERT_TRUE(LoginOk());
  m_ftp->Abort();
  EXPECT_EQ(m_ftp->ErrorNumber(), 0);
  m_server.Expect("QUIT", "221 bye");
  m_ftp->CloseConnection();
  EXPECT_EQ(m_ftp->FtpState(), kFtpClosed);
  EXPECT_FALSE(m_ftp->Connected());
  EXPECT_FALSE(m_ftp->KeepAliveRunning());
  m_loop.Loop().RunFor(100ms);
  EXPECT_THAT(m_server.Transcript(), ElementsAre("USER user", "PASS pass", "QUIT"));
  EXPECT_EQ(m_errors, 0);
}

TEST_F(FtpSessionTest, ArgumentWithALineBreakIsNeverSent) {
  ASSERT_TRUE(LoginOk());
  m_server.AnswerByDefault();
  EXPECT_FALSE(m_ftp->DeleteFile("a.txt\r\nDELE precious.txt"));
  EXPECT_EQ(m_ftp->ErrorNumber(), kErrUnsafeCommand);
  EXPECT_FALSE(m_ftp->RenameFile("x", "y\nRMD /"));
  EXPECT_FALSE(m_ftp->DeleteFile(std::string("a.txt\0precious.txt", 18)));
  EXPECT_EQ(m_ftp->ErrorNumber(), kErrUnsafeCommand);
  m_loop.Loop().RunFor(100ms);
  EXPECT_THAT(m_server.Transcript(), ElementsAre("USER user", "PASS pass", "RNFR x"));
  EXPECT_EQ(m_server.RawControlBytes().find("precious"), std::string::npos);
}

TEST_F(FtpSessionTest, MkdOfAnExistingFolderSucceedsHoweverTheServerWordsIt) {
  ASSERT_TRUE(LoginOk());
  // The recognised wording.
  m_server.Expect("MKD /a", "550 File already exists");
  EXPECT_TRUE(m_ftp->CreateDirectory("/a", false));
  // Other wording: the folder is there when CWD into it works.
  m_server.Expect("MKD /b", "550 Create directory operation failed.")
      .Expect("PWD", "257 \"/\" is cwd")
      .Expect("CWD /b", "250 ok")
      .Expect("CWD /", "250 ok");
  EXPECT_TRUE(m_ftp->CreateDirectory("/b", false));
  EXPECT_EQ(m_ftp->ErrorNumber(), 0);
  // Refused and not there: a failure, and not remembered.
  m_server.Expect("MKD /c", "550 Permission denied.")
      .Expect("PWD", "257 \"/\" is cwd")
      .Expect("CWD /c", "550 No such directory.")
      .Expect("MKD /c", "257 created");
  EXPECT_FALSE(m_ftp->CreateDirectory("/c", false));
  EXPECT_EQ(m_ftp->ErrorNumber(), 16550);
  EXPECT_EQ(m_ftp->ErrorInfo(), "550 Permission denied.");
  EXPECT_EQ(m_errors, 1);  // the refusal, once; probing for the folder raises none
  EXPECT_TRUE(m_ftp->CreateDirectory("/c", false));  // tried again, not taken from memory
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

TEST_F(FtpSessionTest, RecursiveCreateGoesTopDownAndIsRememberedExactly) {
  ASSERT_TRUE(LoginOk());
  m_server.Expect("MKD /x", "257 ok").Expect("MKD /x/y", "257 ok").Expect("MKD /x/y/z", "257 ok");
  EXPECT_TRUE(m_ftp->CreateDirectory("\\x\\y//z/", true));
  EXPECT_TRUE(m_ftp->CreateDirectory("/x/y/z", false));  // remembered: nothing sent
  m_server.Expect("MKD /X/Y/Z", "257 ok");  // names differ by letter case here
  EXPECT_TRUE(m_ftp->CreateDirectory("/X/Y/Z", false));
  EXPECT_THAT(m_server.Failures(), IsEmpty());
  EXPECT_EQ(m_server.Transcript().size(), 6u);
  // RMD forgets the folder.
  m_server.Expect("RMD /x/y/z", "250 ok").Expect("MKD /x/y/z", "257 ok");
  EXPECT_TRUE(m_ftp->RemoveDirectory("/x/y/z"));
  EXPECT_TRUE(m_ftp->CreateDirectory("/x/y/z", false));
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

TEST_F(FtpSessionTest, CommandOperationsAndTheirReplies) {
  ASSERT_TRUE(LoginOk());
  m_server.Expect("CWD /", "250 ok")
      .Expect("RNFR a.txt", "350 ready")
      .Expect("RNTO A.txt", "250 renamed")
      .Expect("DELE gone.txt", "550 Cannot find the file")
      .Expect("DELE x.txt", "550 Permission denied")
      .Expect("PWD", "257 \"/a/b/\" is cwd")
      .Expect("RMD /nope", "550 Remove directory operation failed.");
  EXPECT_TRUE(m_ftp->SetCurrentDirectory("."));
  EXPECT_TRUE(m_ftp->RenameFile("a.txt", "a.txt"));  // same name: nothing sent
  EXPECT_TRUE(m_ftp->RenameFile("a.txt", "A.txt"));
  EXPECT_TRUE(m_ftp->DeleteFile("gone.txt"));
  EXPECT_FALSE(m_ftp->DeleteFile("x.txt"));
  EXPECT_EQ(m_ftp->ErrorNumber(), 16550);
  EXPECT_EQ(m_ftp->GetParentDirectory(), "/a/b");
  EXPECT_FALSE(m_ftp->RemoveDirectory("/nope"));
  EXPECT_EQ(m_ftp->ErrorInfo(), "550 Remove directory operation failed.");
  EXPECT_EQ(m_errors, 2);
  EXPECT_FALSE(m_ftp->DeleteFile("  "));
  EXPECT_EQ(m_ftp->ErrorNumber(), 20005);
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

TEST_F(FtpSessionTest, SizeAsksInBinaryMode) {
  ASSERT_TRUE(LoginOk());
  m_server.Expect("TYPE I", "200 binary")
      .Expect("SIZE big.bin", "213 1048576")
      .Expect("TYPE I", "200 binary")
      .Expect("SIZE none.bin", "550 none.bin: No such file");
  EXPECT_EQ(m_ftp->GetRemoteFileSize("big.bin"), 1048576);
  EXPECT_EQ(m_ftp->GetRemoteFileSize("none.bin"), -1);
  EXPECT_EQ(m_ftp->ErrorNumber(), 16550);
  EXPECT_EQ(m_ftp->ErrorInfo(), "550 none.bin: No such file");
  // Digits within 64 bits, or no size at all.
  for (const char* reply : {"213 1e400", "213 12abc", "213 -5", "213 9223372036854775808", "213 "}) {
    m_server.Expect("TYPE I", "200 binary").Expect("SIZE odd.bin", reply);
    EXPECT_EQ(m_ftp->GetRemoteFileSize("odd.bin"), -2) << reply;
    EXPECT_EQ(m_ftp->ErrorNumber(), 16213) << reply;
  }
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

// An exchange that is given up may still be answered, late: the session goes
// with it, so that late reply can never be taken for the next command's.
TEST_F(FtpSessionTest, GivenUpExchangeEndsTheSessionAndTheNextCommandLogsInAfresh) {
  ASSERT_TRUE(LoginOk());
  m_ftp->SetKeepConnSecond(0);
  std::string flood;
  while (flood.size() < 80 * 1024) flood += "250-padding padding padding padding padding padding\r\n";
  LoopTimer host;  // the host's own watchdog, aborting a call that hangs
  host = LoopTimer(Milliseconds(5000), [&] { host.SetEnabled(false), m_ftp->Abort(); });
  // What the server answers CWD with; whether the host aborts; the error.
  const struct { std::string sent; bool abort; long number; } rows[] = {
      {"", false, kErrTimedOut}, {"", true, kErrCanceled}, {flood, false, kErrReplyTooLong}};
  int connections = 1;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.number);
    m_server.Expect("CWD /slow").SendRaw(r.sent).ExpectClose().Login().Expect("DELE a.txt", "550 Permission denied");
    host.SetEnabled(r.abort);
    EXPECT_FALSE(m_ftp->SetCurrentDirectory("/slow"));
    EXPECT_EQ(m_ftp->ErrorNumber(), r.number);
    EXPECT_FALSE(m_ftp->DeleteFile("a.txt"));
    EXPECT_EQ(m_ftp->ErrorNumber(), 16550);
    EXPECT_EQ(m_server.ConnectionCount(), ++connections);
  }
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

// The server goes away in the middle of a command: whatever was asked is not
// known to have happened, so the command fails (and the host hears of it)
// instead of ending as if its reply had come.
TEST_F(FtpSessionTest, ServerGoneDuringACommandFailsIt) {
  ASSERT_TRUE(LoginOk());
  const struct {
    const char* name;
    std::function<void(FakeFtpServer&)> script;
    std::function<bool(FtpLibrary&)> run;
    long number;  // 0: any error
  } rows[] = {
      {"closed instead of the DELE reply", [](FakeFtpServer& s) { s.Expect("DELE a.txt").Drop(); },
       [](FtpLibrary& f) { return f.DeleteFile("a.txt"); }, 16011},
      {"closed after 350 to RNFR", [](FakeFtpServer& s) { s.Expect("RNFR a", "350 ok").Drop(); },
       [](FtpLibrary& f) { return f.RenameFile("a", "b"); }, 16011},
      {"reset after 350 to RNFR",
       [](FakeFtpServer& s) { s.Expect("RNFR a", "350 ok").Drop(FakeFtpServer::Close::kReset); },
       [](FtpLibrary& f) { return f.RenameFile("a", "b"); }, 0},
      {"closed after 200 to TYPE I", [](FakeFtpServer& s) { s.Expect("TYPE I", "200 ok").Drop(); },
       [](FtpLibrary& f) { return f.GetRemoteFileSize("f.bin") >= 0; }, 16011},
      {"closed instead of the MKD reply", [](FakeFtpServer& s) { s.Expect("MKD /d").Drop(); },
       [](FtpLibrary& f) { return f.CreateDirectory("/d", false); }, 16011},
      {"reset instead of the CWD reply", [](FakeFtpServer& s) { s.Expect("CWD /x").Drop(FakeFtpServer::Close::kReset); },
       [](FtpLibrary& f) { return f.SetCurrentDirectory("/x"); }, 10054},
  };
  int connections = 1;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    if (connections > 1) m_server.Login();  // the command reconnects first
    r.script(m_server);
    m_errors = 0;
    EXPECT_FALSE(r.run(*m_ftp));
    EXPECT_EQ(m_server.ConnectionCount(), connections++);
    if (r.number == kErrConnectionInterrupted) {
      EXPECT_EQ(m_ftp->ErrorNumber(), r.number);
      EXPECT_EQ(m_errors, 1);
    } else if (r.number != 0) {
      EXPECT_EQ(m_ftp->ErrorNumber(), r.number);
    } else {
      EXPECT_NE(m_ftp->ErrorNumber(), 0);
    }
    m_loop.Loop().RunFor(10ms);
    EXPECT_FALSE(m_ftp->Connected());
  }
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

// A reply, then the server's close: the command that follows at once still
// finds the socket connected (the close is read after the reply), goes out
// on the dead connection and must fail; the one after that reconnects.
TEST_F(FtpSessionTest, CommandRightAfterTheServersCloseFailsAndTheNextReconnects) {
  ASSERT_TRUE(LoginOk());
  m_server.Expect("PWD", "257 \"/\"").Drop();
  EXPECT_EQ(m_ftp->GetCurrentDirectory(), "/");
  EXPECT_FALSE(m_ftp->DeleteFile("precious.txt"));
  EXPECT_EQ(m_ftp->ErrorNumber(), 16011);
  EXPECT_EQ(m_ftp->ErrorInfo(), "Connection is interrupted");
  EXPECT_EQ(m_errors, 1);
  EXPECT_EQ(m_ftp->FtpState(), kFtpClosed);

  m_server.Login().Expect("DELE precious.txt", "250 deleted");
  EXPECT_TRUE(m_ftp->DeleteFile("precious.txt"));
  EXPECT_EQ(m_server.ConnectionCount(), 2);
  EXPECT_THAT(m_server.Transcript(),
              ElementsAre("USER user", "PASS pass", "PWD", "USER user", "PASS pass", "DELE precious.txt"));
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

}  // namespace
}  // namespace pellan
