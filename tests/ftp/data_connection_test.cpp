// Data connections against the scripted server: the shapes of a 227 reply
// and where the client connects, the order of the final reply and the end
// of the data, refused, missing, endless and cut data connections in both
// modes, connections left from an earlier listing, and active mode's ports.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <functional>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "scripted_session.h"
#include "support/raw_ftp_client.h"

namespace pellan::test {
namespace {

using S = FakeFtpServer;

// TYPE A and the data connection's set-up in either mode, as script items.
std::string Open(bool passive) {
  return passive ? "TYPE A>200 ok|PASV|" : "TYPE A>200 ok|PORT 127,0,0,1,*>200 ok|";
}
// A script piece as a row's part.
std::function<void(S&)> Sc(std::string items, std::vector<std::string> data = {}) {
  return [items, data](S& s) { s.Script(items, data); };
}

class DataConnectionTest : public ScriptedSession {
 protected:
  // Ends with ExpectNextOperationRuns(); in active mode the listener of the
  // last PORT is gone.
  void ExpectCleanEnd(bool passive) {
    if (!passive) {
      const int port = m_server.LastPort();
      EXPECT_GE(port, 20000);
      EXPECT_FALSE(RawFtpClient::PortAccepts(static_cast<uint16_t>(port)));
    }
    ExpectNextOperationRuns();
  }
};

// A listing of 300 records (one a folder) arrives whole, however the server
// announces the data connection and orders the final reply and the end of
// the data.
TEST_F(DataConnectionTest, ListingIsWhole) {
  ASSERT_TRUE(LoginOk());
  std::string body = Line('d', 4096, "Rdir"), want = "0:Rdir/";
  for (int i = 1; i < 300; ++i) {
    body += Line('-', i, "R" + std::to_string(i) + ".txt");
    want += ",R" + std::to_string(i) + ".txt " + std::to_string(i);
  }
  const auto pasv = [](const char* reply, const char* host = "") {
    return [reply, host](S& s, const std::string& b) {
      s.Script("TYPE A>200 ok|PASV>").Pasv(reply, host).Script("LIST pub>150 ok|<data>|226 ok", {b});
    };
  };
  const std::string list = Open(true) + "LIST pub>";
  const struct {
    const char* name;
    bool passive;
    std::function<void(S&, const std::string&)> script;
  } rows[] = {
      {"227 with equals sign", true, pasv("227 =({})")}, {"227 bare numbers", true, pasv("227 {}")},
      // The listener is on 127.0.0.1; the reply names 127.0.0.2, where
      // nothing listens: the control's peer is used.
      {"another announced address", true, pasv("227 Entering Passive Mode ({}).", "127.0.0.2")},
      {"reply long before the data", true,
       [&](S& s, const std::string& b) { s.Script(list + "150 ok|226 ok").Delay(5s).Script("<data>", {b}); }},
      {"reply in the middle of the data", true, [&](S& s, const std::string& b) {
         s.Script(list + "150 ok|<part>|226 ok", {b.substr(0, 1000)}).Delay(2s);
         s.Script("<data>", {b.substr(1000)});
       }},
      {"close long before the reply", true,
       [&](S& s, const std::string& b) { s.Script(list + "150 ok|<data>", {b}).Delay(5s).Reply("226 ok"); }},
      {"byte by byte, then 250", true, [&](S& s, const std::string& b) {
         s.Script(list + "125 ok").DataSend(b.substr(0, 200), 1ms).Script("<data>|250 ok", {b.substr(200)});
       }},
      {"multi-line final reply before the close", true, [&](S& s, const std::string& b) {
         s.Script(list + "150 ok|<part>|226-Options: -l \r\n226 300 matches", {b}).Delay(1s).DataClose();
       }},
      // Another host (127.0.0.2) reaches the active-mode port first and
      // sends a listing of its own.
      {"active, another host connects first", false,
       [&](S& s, const std::string& b) {
         s.Script(Open(false) + "LIST pub>150 ok").Do([&] {
           const int intruder = RawFtpClient::ConnectTo(m_server.LastPort(), "127.0.0.1", "127.0.0.2");
           const std::string evil = Line('-', 1, "evil.txt");
           EXPECT_EQ(send(intruder, evil.data(), evil.size(), MSG_NOSIGNAL), ssize_t(evil.size())) << strerror(errno);
           close(intruder);
         });
         s.Script("<connect>|<data>|226 ok", {b});
       }},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    m_ftp->SetPassiveMode(r.passive);
    r.script(m_server, body);
    auto files = m_ftp->GetRemoteFilesInfo("pub/");
    ASSERT_NE(files, nullptr) << m_ftp->ErrorNumber() << " " << m_ftp->ErrorInfo();
    // The error, then the files (the script holds the commands).
    std::string got = std::to_string(m_ftp->ErrorNumber()) + ":";
    for (const CFtpFile& f : *files) {
      got += (got.back() == ':' ? "" : ",") + f.FileName() +
             (f.IsDirectory() ? "/" : " " + std::to_string(static_cast<long long>(f.FileSize())));
    }
    EXPECT_EQ(got, want);
    ExpectCleanEnd(r.passive);
  }
}

// A listing that cannot be had fails alone: the error, and the next
// operation runs (on a new login where the session had to go).
TEST_F(DataConnectionTest, FailedListings) {
  ASSERT_TRUE(LoginOk());
  std::string endless;
  while (endless.size() < 200 * 1024) endless += Line('-', 1, "x" + std::to_string(endless.size()) + ".txt");
  const std::string bad227 = "TYPE A>200 ok|PASV>227 ", list = "LIST pub>150 ok|", r1 = Line('-', 1, "R1");
  const struct {
    const char* name;
    bool passive;
    std::function<void(S&)> script;
    long error;
    bool sessionGone;
    bool usePasvAddress = false;
  } rows[] = {
      {"227 without an address", true, Sc(bad227 + "Entering Passive Mode."), kErrBadPasvReply, false},
      {"227 with five numbers", true, Sc(bad227 + "Passive Mode (127,0,0,1,4)"), kErrBadPasvReply, 0},
      {"227 with a number over 255", true, Sc(bad227 + "(127,0,0,1,999,1)"), kErrBadPasvReply, false},
      {"227 with port 0", true, Sc(bad227 + "(127,0,0,1,0,0)"), kErrBadPasvReply, false},
      // Nothing listens at 127.0.0.2: refused, and no LIST goes out.
      {"announced address taken as asked", true,
       [](S& s) { s.Script("TYPE A>200 ok|PASV>").Pasv("227 ({}).", "127.0.0.2"); }, 10061, false, true},
      {"refused PORT", false, Sc("TYPE A>200 ok|PORT 127,0,0,1,*>500 Illegal PORT command."), 16500, false},
      {"550 to LIST, passive", true, Sc(Open(true) + "LIST pub>550 No such file or directory."), 16550, 0},
      {"550 to LIST, active", false, Sc(Open(false) + "LIST pub>550 No such file or directory."), 16550, 0},
      {"active data connection never comes", false, Sc(Open(false) + list + "<close>"), kErrTimedOut, true},
      // The final reply alone does not end a listing whose data is open.
      {"passive data never ends", true, Sc(Open(true) + list + "<part>|226 ok|<close>", {r1}), kErrTimedOut,
       1},
      {"cut by the server's leaving", true, Sc(Open(true) + list + "<part>|<drop>", {r1}),
       kErrConnectionInterrupted, true},
      {"longer than the limit", true, Sc(Open(true) + list + "<part>|<close>", {endless}), kErrListingTooLong,
       1},
  };
  m_ftp->SetMaxListingBytes(64 * 1024);
  int connections = 1;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    m_ftp->SetPassiveMode(r.passive);
    m_ftp->SetUsePasvAddress(r.usePasvAddress);
    r.script(m_server);
    if (r.sessionGone) m_server.Login();
    const Duration before = Elapsed();
    EXPECT_EQ(m_ftp->GetRemoteFilesInfo("pub/"), nullptr);
    EXPECT_EQ(m_ftp->ErrorNumber(), r.error) << m_ftp->ErrorInfo();
    EXPECT_LT(Elapsed() - before, 40s);
    ExpectCleanEnd(r.passive);
    EXPECT_EQ(m_server.ConnectionCount(), connections += r.sessionGone);
  }
}

// EPSV first, its port at the control connection's peer; a server that
// refuses it (any 5xx) gets PASV for the rest of the session, and the next
// session asks with EPSV again. A 229 without a port fails the listing.
TEST_F(DataConnectionTest, ExtendedPassiveFallsBackToPasvForTheSession) {
  ASSERT_TRUE(LoginOk());
  m_ftp->SetExtendedPassive(true);
  const std::string r1 = Line('-', 1, "R1"), list = "LIST pub>150 ok|<data>|226 ok";
  m_server.Script("TYPE A>200 ok|EPSV>").Pasv(kEpsvReply).Script(list, {r1});
  m_server.Script("TYPE A>200 ok|EPSV>502 Not implemented.|PASV|" + list + "|TYPE A>200 ok|PASV|" + list, {r1, r1});
  for (int i = 0; i < 3; ++i) EXPECT_NE(m_ftp->GetRemoteFilesInfo("pub/"), nullptr) << i << m_ftp->ErrorInfo();
  m_ftp->CloseConnection();
  m_server.Script("QUIT|<close>|<login>|TYPE A>200 ok").Expect("EPSV").Reply("229 Extended Passive Mode (|||70000|)");
  EXPECT_EQ(m_ftp->GetRemoteFilesInfo("pub/"), nullptr);
  EXPECT_EQ(m_ftp->ErrorNumber(), kErrBadPasvReply);
}

// (Names in GBK on the server, read as UTF-8.)
TEST_F(DataConnectionTest, ListingAfterARefusedOneWaitsForItsOwnData) {
  ASSERT_TRUE(LoginOk());
  ASSERT_TRUE(m_ftp->SetCodePage("GBK"));
  for (const bool passive : {true, false}) {
    SCOPED_TRACE(passive);
    m_ftp->SetPassiveMode(passive);
    // The refusal comes while the data connection is open, as some servers
    // answer; the client closes that connection.
    const std::string connect = passive ? "" : "|<connect>";
    m_server.Script(Open(passive) + "LIST nope" + connect).DataAccept().Reply("550 No such file.");
    // The next listing's final reply comes well before its data.
    m_server.Script(Open(passive) + "LIST pub>150 ok" + connect + "|226 ok").Delay(1s);
    m_server.Script("<data>", {Line('-', 5, EncodeText("R回单.txt", CodePage::kGbk)) + Line('d', 0, "sub")});
    EXPECT_EQ(m_ftp->GetRemoteFilesInfo("nope/"), nullptr);
    EXPECT_EQ(m_ftp->ErrorNumber(), 16550);
    EXPECT_EQ(Names(m_ftp->GetRemoteFilesInfo("pub/").get()), (std::vector<std::string>{"R回单.txt", "sub"}));
  }
}

TEST_F(DataConnectionTest, ActiveModeGivesUpAfterFiftyTakenPorts) {
  ASSERT_TRUE(LoginOk());
  m_ftp->SetPassiveMode(false);
  m_server.AnswerByDefault();
  m_server.SetListing(Line('-', 1, "x"));
  ASSERT_NE(m_ftp->GetRemoteFilesInfo("pub/"), nullptr) << m_ftp->ErrorInfo();
  const int last = m_server.LastPort();
  ASSERT_GT(last, 0);

  // Take the next fifty ports the counter will hand out.
  std::vector<int> blockers;
  for (int port = last + 1; port <= last + 50 && port <= 65535; ++port) {
    uint16_t p = static_cast<uint16_t>(port);
    const int fd = RawFtpClient::Listen(&p);
    if (fd >= 0) blockers.push_back(fd);  // else taken by someone else: taken all the same
  }
  const size_t sentBefore = m_server.Transcript().size();
  EXPECT_EQ(m_ftp->GetRemoteFilesInfo("pub/"), nullptr);
  EXPECT_EQ(m_ftp->ErrorNumber(), 10048);
  EXPECT_FALSE(m_ftp->Busy());
  m_loop.Loop().RunFor(50ms);
  // TYPE went out; no PORT naming a port that is not ours.
  EXPECT_EQ(std::vector<std::string>(m_server.Transcript().begin() + sentBefore, m_server.Transcript().end()),
            std::vector<std::string>{"TYPE A"});
  for (int fd : blockers) close(fd);

  // The count went on past the taken ports.
  EXPECT_NE(m_ftp->GetRemoteFilesInfo("pub/"), nullptr) << m_ftp->ErrorInfo();
  EXPECT_GT(m_server.LastPort(), last + 50);
}

}  // namespace
}  // namespace pellan::test
