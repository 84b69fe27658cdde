// The session engine against the scripted server: login, the reply cycle,
// time-outs, abort and close, and the command operations.
#include <functional>
#include <string>
#include <vector>

#include "scripted_session.h"

namespace pellan::test {
namespace {

class FtpSessionTest : public ScriptedSession {};

TEST_F(FtpSessionTest, LoginOutcomes) {
  const struct {
    const char* name;
    std::string user, password;  // as stored (enciphered)
    const char* script;          // "": nothing listens
    long error;
    const char* info;
    bool tls = false;  // required: a server that refuses AUTH TLS hears nothing more
  } rows[] = {
      {"blank user logs in as anonymous", "   ", "", "220 hi|USER anonymous>331 any|PASS>230 ok", 0, ""},
      {"refused password", Enc("user"), Enc("pass"),
       "220 hi|USER user>331 pw|PASS pass>530 Login incorrect.", 16530, "530 Login incorrect."},
      {"nothing listens", Enc("user"), Enc("pass"), "", 10061, "Connection refused"},
      {"closed before the greeting", Enc("user"), Enc("pass"), "<drop>", 16006,
       "Connect failed(No response from server)"},
      {"TLS refused", Enc("user"), Enc("pass"), "220 hi|AUTH TLS>500 Unknown command.|<close>",
       kErrTlsRefused,
       "The server refused TLS (500 to AUTH TLS: 500 Unknown command.); nothing more was sent", true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    auto server = std::make_unique<FakeFtpServer>();
    auto ftp = ScriptedControl(server->Port());
    int errors = 0;
    ftp->OnError = [&] { ++errors; };
    ftp->SetUserName(r.user);
    ftp->SetPassWord(r.password);
    ftp->SetTlsMode(r.tls);
    *r.script ? (void)server->Script(r.script) : server.reset();
    // Connect's answer, Connected, connecting, the error.
    const bool ok = ftp->Connect();
    EXPECT_EQ(std::to_string(ok) + std::to_string(ftp->Connected()) + std::to_string(g_blnConnecting) + " " +
                  std::to_string(ftp->ErrorNumber()) + " " + ftp->ErrorInfo(),
              std::string(r.error ? "000 " : "110 ") + std::to_string(r.error) + " " + r.info);
    EXPECT_TRUE(!ok || ftp->UserName() == "anonymous");
    if (server) {
      EXPECT_EQ(errors, r.error == 0 || r.error == 16006 ? 0 : 1);  // the socket's own failure raises none
      m_loop.Loop().RunFor(100ms);
      EXPECT_EQ(server->ControlOpen(), r.error == 0);  // a failed login closes the session
      EXPECT_THAT(server->Failures(), IsEmpty());
      if (r.tls) {
        EXPECT_THAT(server->Transcript(), ElementsAre("AUTH TLS"));
      }
    } else {
      EXPECT_EQ(ftp->GetCurrentDirectory(), "");  // a command tries again, and fails the same way
      EXPECT_EQ(ftp->ErrorNumber(), r.error);
    }
  }
}

// A reply that comes byte by byte, with a NUL in it, is read whole; an
// idle Abort (or AbortCurrent) does nothing and leaves nothing behind, an
// argument with a line break is never sent, and CloseConnection sends QUIT.
TEST_F(FtpSessionTest, ByteByByteReplyIdleAbortUnsafeArgumentsAndClose) {
  ASSERT_TRUE(LoginOk());
  m_server.Expect("PWD").SendRaw(std::string("257 \"/in\0box\" is cwd\r\n", 23), 3ms);
  EXPECT_EQ(m_ftp->GetCurrentDirectory(), std::string("/in\0box", 7));
  EXPECT_EQ(m_ftp->ErrorNumber(), 0);
  m_ftp->Abort();
  m_ftp->AbortCurrent();  // nothing to cancel, and nothing kept for later: a refusal is heard
  EXPECT_EQ(m_ftp->ErrorNumber() + m_events.errors, 0);
  m_server.Script("DELE a>550 No such file");
  EXPECT_FALSE(m_ftp->DeleteFile("a"));
  EXPECT_EQ(m_events.errors, 1);
  m_server.AnswerByDefault();
  EXPECT_FALSE(m_ftp->DeleteFile("a.txt\r\nDELE precious.txt"));
  EXPECT_EQ(m_ftp->ErrorNumber(), kErrUnsafeCommand);
  EXPECT_FALSE(m_ftp->RenameFile("x", "y\nRMD /"));
  EXPECT_FALSE(m_ftp->DeleteFile(std::string("a.txt\0precious.txt", 18)));
  EXPECT_EQ(m_ftp->ErrorNumber(), kErrUnsafeCommand);
  const int errors = m_events.errors;
  m_ftp->CloseConnection();
  EXPECT_EQ(m_ftp->FtpState() * 10 + m_ftp->Connected(), kFtpClosed * 10);
  m_loop.Loop().RunFor(100ms);
  EXPECT_THAT(m_server.Transcript(),
              ElementsAre("USER user", "PASS pass", "PWD", "DELE a", "RNFR x", "QUIT"));
  EXPECT_EQ(m_events.errors, errors);
}

// Each row: the server's part, the calls, what each call gave ("ok" or
// "E" + the error number, or the value asked for) and the errors raised.
TEST_F(FtpSessionTest, CommandOperationsAndTheirReplies) {
  ASSERT_TRUE(LoginOk());
  FtpLibrary& f = *m_ftp;
  // "ok", or "E" and the error number: what one call of an operation gave.
  const auto O = [&f](bool ok) { return ok ? std::string("ok") : "E" + std::to_string(f.ErrorNumber()); };
  using V = std::vector<std::string>;
  const struct {
    const char* name;
    const char* script;
    std::function<V()> run;  // braces: called in order
    V result;
    int errors;
  } rows[] = {
      {"MKD of a folder there, in the recognised words", "MKD /a>550 File already exists",
       [&] { return V{O(f.CreateDirectory("/a", false))}; }, {"ok"}, 0},
      {"MKD of a folder there, in other words: CWD shows it",
       "MKD /b>550 Create directory operation failed.|PWD>257 \"/\" is cwd|CWD /b>250 ok|CWD />250 ok",
       [&] { return V{O(f.CreateDirectory("/b", false))}; }, {"ok"}, 0},
      {"MKD refused and not there fails once, and is not remembered",
       "MKD /c>550 Permission denied.|PWD>257 \"/\" is cwd|CWD /c>550 No such folder.|MKD /c>257 created",
       [&] { return V{O(f.CreateDirectory("/c", false)), f.ErrorInfo(), O(f.CreateDirectory("/c", false))}; },
       {"E16550", "550 Permission denied.", "ok"}, 1},
      {"recursive MKD goes top down and is remembered by exact name until RMD",
       "MKD /x>257 ok|MKD /x/y>257 ok|MKD /x/y/z>257 ok|MKD /X/Y/Z>257 ok|RMD /x/y/z>250 ok|MKD /x/y/z>257 a",
       [&] {
         return V{O(f.CreateDirectory("\\x\\y//z/", true)), O(f.CreateDirectory("/x/y/z", false)),
                  O(f.CreateDirectory("/X/Y/Z", false)), O(f.RemoveDirectory("/x/y/z")),
                  O(f.CreateDirectory("/x/y/z", false))};
       },
       {"ok", "ok", "ok", "ok", "ok"}, 0},
      {"CWD, and RNFR/RNTO unless the names are the same", "CWD />250 ok|RNFR a>350 ready|RNTO A>250 ok",
       [&] { return V{O(f.SetCurrentDirectory(".")), O(f.RenameFile("a", "a")), O(f.RenameFile("a", "A"))}; },
       {"ok", "ok", "ok"}, 0},
      {"DELE of a file not there succeeds, refused fails; no name is 20005",
       "DELE gone.txt>550 Cannot find the file|DELE x.txt>550 Permission denied",
       [&] { return V{O(f.DeleteFile("gone.txt")), O(f.DeleteFile("x.txt")), O(f.DeleteFile("  "))}; },
       {"ok", "E16550", "E20005"}, 2},
      {"parent directory and a refused RMD", "PWD>257 \"/a/b/\" is cwd|RMD /no>550 Remove directory failed.",
       [&] { return V{f.GetParentDirectory(), O(f.RemoveDirectory("/no")), f.ErrorInfo()}; },
       {"/a/b", "E16550", "550 Remove directory failed."}, 1},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    m_server.Script(r.script);
    const int before = m_events.errors;
    EXPECT_EQ(r.run(), r.result);
    EXPECT_EQ(m_events.errors - before, r.errors);
  }
}

TEST_F(FtpSessionTest, SizeAsksInBinaryModeAndTakesOnlyDigitsWithin64Bits) {
  ASSERT_TRUE(LoginOk());
  const struct {
    const char* reply;
    double size;
    long error;
  } rows[] = {{"213 1048576", 1048576, 0},    {"550 f: No such file", -1, 16550}, {"213 1e400", -2, 16213},
              {"213 12abc", -2, 16213},       {"213 -5", -2, 16213},             {"213 ", -2, 16213},
              {"213 9223372036854775808", -2, 16213}};
  for (const auto& r : rows) {
    m_server.Script(std::string("TYPE I>200 binary|SIZE f>") + r.reply);
    EXPECT_EQ(m_ftp->GetRemoteFileSize("f"), r.size) << r.reply;
    EXPECT_EQ(m_ftp->ErrorNumber(), r.error) << r.reply;
  }
  EXPECT_EQ(m_ftp->ErrorInfo(), "Unreadable file size in the server's reply: 213 9223372036854775808");
}

// An exchange that is given up may still be answered, late: the session goes
// with it, so that late reply can never be taken for the next command's.
TEST_F(FtpSessionTest, GivenUpExchangeEndsTheSessionAndTheNextCommandLogsInAfresh) {
  ASSERT_TRUE(LoginOk());
  std::string flood;
  while (flood.size() < 80 * 1024) flood += "250-padding padding padding padding padding padding\r\n";
  LoopTimer host;  // the host's own watchdog, aborting a call that hangs
  host = LoopTimer(Milliseconds(5000), [&] { host.SetEnabled(false), m_ftp->Abort(); });
  // The command (PWD, or CWD), what the server answers; whether the host
  // aborts; the error; how long the call may take (the time-out is 30
  // seconds).
  const struct {
    bool cwd;
    std::string sent;
    bool abort;
    long number;
    Duration from, to;
  } rows[] = {{false, "", false, kErrTimedOut, 30s, 31s}, {true, "", false, kErrTimedOut, 30s, 31s},
              {true, "", true, kErrCanceled, 5s, 6s}, {false, flood, false, kErrReplyTooLong, 0s, 1s}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.number);
    m_server.Expect(r.cwd ? "CWD /slow" : "PWD").SendRaw(r.sent).Script("<close>|<login>|DELE a>550 Denied");
    host.SetEnabled(r.abort);
    const Duration before = Elapsed();
    EXPECT_FALSE(r.cwd ? m_ftp->SetCurrentDirectory("/slow") : !m_ftp->GetCurrentDirectory().empty());
    EXPECT_EQ(m_ftp->ErrorNumber(), r.number);
    EXPECT_TRUE(Elapsed() - before >= r.from && Elapsed() - before < r.to) << (Elapsed() - before).count();
    EXPECT_FALSE(m_ftp->DeleteFile("a"));
    EXPECT_EQ(m_ftp->ErrorNumber(), 16550);
  }
}

// The server goes away in the middle of a command: whatever was asked is not
// known to have happened, so the command fails (and the host hears of it)
// instead of ending as if its reply had come; the next command reconnects.
TEST_F(FtpSessionTest, ServerGoneDuringACommandFailsIt) {
  ASSERT_TRUE(LoginOk());
  using F = FtpLibrary;
  const struct {
    const char* name;
    const char* script;
    std::function<bool(FtpLibrary&)> run;
    long number;  // 0: any error
  } rows[] = {
      {"closed instead of the DELE reply", "DELE a.txt|<drop>", [](F& f) { return f.DeleteFile("a.txt"); },
       kErrConnectionInterrupted},
      {"closed after 350 to RNFR", "RNFR a>350 ok|<drop>", [](F& f) { return f.RenameFile("a", "b"); },
       kErrConnectionInterrupted},
      {"reset after 350 to RNFR", "RNFR a>350 ok|<reset>", [](F& f) { return f.RenameFile("a", "b"); }, 0},
      {"reset instead of the CWD reply", "CWD /x|<reset>", [](F& f) { return f.SetCurrentDirectory("/x"); },
       10054},
      // The close is read after the reply: the next command finds the socket
      // still connected and goes out on the dead connection.
      {"closed right after a reply", "PWD>257 \"/\"|<drop>",
       [](F& f) { return f.GetCurrentDirectory() == "/" && f.DeleteFile("precious.txt"); },
       kErrConnectionInterrupted},
  };
  int connections = 1;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    if (connections > 1) m_server.Login();  // the command reconnects first
    m_server.Script(r.script);
    m_events.errors = 0;
    EXPECT_FALSE(r.run(*m_ftp));
    EXPECT_EQ(m_server.ConnectionCount(), connections++);
    EXPECT_EQ(m_ftp->ErrorNumber(), r.number ? r.number : m_ftp->ErrorNumber());
    EXPECT_NE(m_ftp->ErrorNumber(), 0);
    EXPECT_TRUE(r.number != kErrConnectionInterrupted || m_events.errors == 1);
    m_loop.Loop().RunFor(10ms);
    EXPECT_FALSE(m_ftp->Connected());
  }
  EXPECT_EQ(m_ftp->ErrorInfo(), "Connection is interrupted");
  m_server.Script("<login>|DELE precious.txt>250 deleted");
  EXPECT_TRUE(m_ftp->DeleteFile("precious.txt"));
  EXPECT_EQ(m_server.ConnectionCount(), connections);
}

}  // namespace
}  // namespace pellan::test
