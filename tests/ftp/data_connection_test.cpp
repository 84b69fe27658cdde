// Data connections against the scripted server: the exact command
// sequences of both modes, the shapes of a 227 reply and where the client
// connects, refused and missing data connections, connections left from an
// earlier listing, the order of the final reply and the end of the data,
// and active mode's ports.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "scripted_session.h"

namespace pellan {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using test::FakeFtpServer;
using test::Line;
using test::Names;
using test::PortOf;

const std::string kPubListing = Line('-', 5, "R1.txt") + Line('-', 3000, "R2.txt") + Line('-', 1, "r3.txt") +
                                Line('-', 7, "a.txt") + Line('d', 4096, "Rsub") + Line('d', 4096, "sub") +
                                Line('-', 9, "Rx.dat");

// A port on 127.0.0.1 where nothing listens.
uint16_t DeadPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

// Whether something accepts connections on 127.0.0.1:port.
bool Listening(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

// The port of the last PORT line sent; -1 when there is none.
int LastPort(const std::vector<std::string>& transcript) {
  for (auto it = transcript.rbegin(); it != transcript.rend(); ++it) {
    if (it->rfind("PORT ", 0) == 0) return PortOf(*it);
  }
  return -1;
}

class DataConnectionTest : public test::ScriptedSession {
 protected:
  // Another host (127.0.0.2) reaches the active-mode port first and sends a
  // listing of its own.
  static void Intrude(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(0x7f000002)}, .sin_zero = {}};
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK), a.sin_port = htons(static_cast<uint16_t>(port));
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const std::string evil = Line('-', 1, "evil.txt");
    EXPECT_EQ(write(fd, evil.data(), evil.size()), static_cast<ssize_t>(evil.size()));
    close(fd);
  }
};

TEST_F(DataConnectionTest, PassiveListingSequenceAndRecords) {
  ASSERT_TRUE(LoginOk());
  m_server.Expect("TYPE A", "200 Type set to A.")
      .Expect("PASV")
      .Pasv()
      .Expect("LIST pub", "150 Here comes the directory listing.")
      .DataSend(kPubListing)
      .DataClose()
      .Reply("226 Directory send OK.");
  auto files = m_ftp->GetRemoteFilesInfo("pub/");
  ASSERT_NE(files, nullptr) << m_ftp->ErrorInfo();
  EXPECT_THAT(Names(files.get()), ElementsAre("R1.txt", "R2.txt", "r3.txt", "a.txt", "Rsub", "sub", "Rx.dat"));
  EXPECT_EQ(files->Item(size_t{2})->FileSize(), 3000);
  EXPECT_TRUE(files->Item(size_t{5})->IsDirectory());
  EXPECT_FALSE(files->Item(size_t{1})->IsDirectory());
  EXPECT_EQ(m_ftp->ErrorNumber(), 0);
  EXPECT_THAT(Sent(), ElementsAre("TYPE A", "PASV", "LIST pub"));
  EXPECT_THAT(m_states, ::testing::Contains(kFtpOpeningData));
  EXPECT_EQ(m_states.back(), kFtpReady);
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

TEST_F(DataConnectionTest, ActiveListingNamesAPortOnTheControlsAddress) {
  ASSERT_TRUE(LoginOk());
  m_ftp->SetPassiveMode(false);
  m_server.Expect("TYPE A", "200 Type set to A.")
      .ExpectMatch("PORT 127,0,0,1,[0-9]+,[0-9]+")
      .Reply("200 PORT command successful.")
      .Expect("LIST pub", "150 Here comes the directory listing.")
      .Do([this] { Intrude(LastPort(m_server.Transcript())); }, "another host connects first")
      .DataConnect()
      .DataSend(kPubListing)
      .DataClose()
      .Reply("226 Directory send OK.");
  auto files = m_ftp->GetRemoteFilesInfo("pub");
  ASSERT_NE(files, nullptr) << m_ftp->ErrorInfo();
  EXPECT_EQ(files->Count(), 7u);
  ASSERT_EQ(Sent().size(), 3u);
  const int port = PortOf(Sent()[1]);
  EXPECT_GE(port, 20000);
  EXPECT_LE(port, 65535);
  EXPECT_FALSE(Listening(port));  // the listener is gone with the listing
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

// ---- where passive mode connects

struct PasvShape {
  const char* name;
  const char* reply;  // "{}" is h1,h2,h3,h4,p1,p2
};
void PrintTo(const PasvShape& row, std::ostream* os) { *os << row.name; }

class PasvShapeTest : public DataConnectionTest, public ::testing::WithParamInterface<PasvShape> {};

TEST_P(PasvShapeTest, ListingRunsOverTheAnnouncedPort) {
  ASSERT_TRUE(LoginOk());
  m_server.Expect("TYPE A", "200 ok")
      .Expect("PASV")
      .PasvReplying(GetParam().reply)
      .Expect("LIST pub", "150 ok")
      .DataSend(kPubListing)
      .DataClose()
      .Reply("226 ok");
  auto files = m_ftp->GetRemoteFilesInfo("pub/");
  EXPECT_EQ(Names(files.get()).size(), 7u) << m_ftp->ErrorNumber() << " " << m_ftp->ErrorInfo();
  EXPECT_EQ(m_server.DataConnectionCount(), 1);
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Replies, PasvShapeTest,
    ::testing::Values(PasvShape{"WithPeriod", "227 Entering passive mode ({})."},
                      PasvShape{"WithoutPeriod", "227 Entering Passive Mode ({})"},
                      PasvShape{"WithoutParentheses", "227 Entering Passive Mode {}"},
                      PasvShape{"EqualsSign", "227 =({})"},
                      PasvShape{"BareNumbers", "227 {}"}),
    [](const ::testing::TestParamInfo<PasvShape>& info) { return std::string(info.param.name); });

TEST_F(DataConnectionTest, AnotherAnnouncedAddressIsUsedOnlyWhenTheHostAsks) {
  ASSERT_TRUE(LoginOk());
  // The listener is on 127.0.0.1; the reply names 127.0.0.2, where nothing
  // listens.
  m_server.Expect("TYPE A", "200 ok").Expect("PASV").Pasv("127.0.0.2").Expect("LIST pub", "150 ok");
  m_server.DataSend(kPubListing).DataClose().Reply("226 ok");
  EXPECT_EQ(Names(m_ftp->GetRemoteFilesInfo("pub/").get()).size(), 7u) << m_ftp->ErrorInfo();
  m_ftp->SetUsePasvAddress(true);
  m_server.Expect("TYPE A", "200 ok").Expect("PASV").Pasv("127.0.0.2");
  EXPECT_EQ(m_ftp->GetRemoteFilesInfo("pub/"), nullptr);
  EXPECT_EQ(m_ftp->ErrorNumber(), 10061);
  EXPECT_EQ(m_server.DataConnectionCount(), 1);
  ExpectNextOperationRuns();
  EXPECT_THAT(Sent(), ElementsAre("TYPE A", "PASV", "LIST pub", "TYPE A", "PASV", "PWD"));
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

TEST_F(DataConnectionTest, Unusable227FailsTheListingAlone) {
  for (const char* reply : {"227 Entering Passive Mode.", "227 Entering Passive Mode (127,0,0,1,4)",
                            "227 Entering Passive Mode (127,0,0,1,999,1)", "227 (127,0,0,1,0,0)"}) {
    SCOPED_TRACE(reply);
    FakeFtpServer server;
    m_ftp->SetRemotePort(server.Port());
    server.Login().Expect("TYPE A", "200 ok").Expect("PASV", reply).Expect("PWD", "257 \"/next\" is cwd");
    EXPECT_EQ(m_ftp->GetRemoteFilesInfo("pub/"), nullptr);
    EXPECT_EQ(m_ftp->ErrorNumber(), kErrBadPasvReply);
    EXPECT_EQ(m_ftp->Operation(), kOpNone);
    EXPECT_EQ(m_ftp->GetCurrentDirectory(), "/next");
    EXPECT_THAT(server.Failures(), IsEmpty());
    m_ftp->CloseConnection();
  }
}

// ---- failures of the data connection

TEST_F(DataConnectionTest, RefusedPassiveConnectionEndsTheListing) {
  ASSERT_TRUE(LoginOk());
  m_server.Expect("TYPE A", "200 ok").Expect("PASV").Pasv("127.0.0.1", DeadPort());
  EXPECT_EQ(m_ftp->GetRemoteFilesInfo("pub/"), nullptr);
  EXPECT_EQ(m_ftp->ErrorNumber(), 10061);
  ExpectNextOperationRuns();
  EXPECT_THAT(Sent(), ElementsAre("TYPE A", "PASV", "PWD"));  // no LIST without a data connection
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

TEST_F(DataConnectionTest, RefusedPortFailsWithTheReplyAndCloses) {
  ASSERT_TRUE(LoginOk());
  m_ftp->SetPassiveMode(false);
  m_server.Expect("TYPE A", "200 ok").ExpectMatch("PORT .*").Reply("500 Illegal PORT command.");
  EXPECT_EQ(m_ftp->GetRemoteFilesInfo("pub/"), nullptr);
  EXPECT_EQ(m_ftp->ErrorNumber(), 16500);
  EXPECT_EQ(m_ftp->ErrorInfo(), "500 Illegal PORT command.");
  ASSERT_EQ(Sent().size(), 2u);
  EXPECT_FALSE(Listening(PortOf(Sent()[1])));
  ExpectNextOperationRuns();
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

// ---- cases that hold in both modes

class BothModesTest : public DataConnectionTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    m_ftp->SetPassiveMode(GetParam());
    m_server.Login();
  }
  // TYPE A, the data connection's set-up and `command` with `reply` (none
  // when null); in active mode the server then connects, when `connect`.
  void ListingStart(const std::string& command, const char* reply = "150 ok", bool connect = true) {
    m_server.Expect("TYPE A", "200 ok");
    GetParam() ? m_server.Expect("PASV").Pasv() : m_server.ExpectMatch("PORT .*").Reply("200 ok");
    m_server.Expect(command);
    if (reply) m_server.Reply(reply);
    if (!GetParam() && connect) m_server.DataConnect();
  }
};

INSTANTIATE_TEST_SUITE_P(Modes, BothModesTest, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "Passive" : "Active"); });

TEST_P(BothModesTest, Refused550ToList) {
  ListingStart("LIST nope", "550 No such file or directory.", false);
  m_server.Expect("PWD", "257 \"/next\" is cwd");
  EXPECT_EQ(m_ftp->GetRemoteFilesInfo("nope/"), nullptr);
  EXPECT_EQ(m_ftp->ErrorNumber(), 16550);
  EXPECT_EQ(m_ftp->ErrorInfo(), "550 No such file or directory.");
  EXPECT_EQ(m_ftp->Operation(), kOpNone);
  if (!GetParam()) {
    EXPECT_FALSE(Listening(LastPort(m_server.Transcript())));
  }
  EXPECT_EQ(m_ftp->GetCurrentDirectory(), "/next");
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

TEST_P(BothModesTest, ListingAfterARefusedOneWaitsForItsOwnData) {
  // The refusal comes while the data connection is open, as some servers
  // answer; the client closes that connection.
  ListingStart("LIST nope", nullptr);
  m_server.DataAccept().Reply("550 No such file or directory.");
  // The next listing's final reply comes well before its data.
  ListingStart("LIST pub");
  m_server.Reply("226 ok").Delay(1s).DataSend(kPubListing).DataClose();

  EXPECT_EQ(m_ftp->GetRemoteFilesInfo("nope/"), nullptr);
  EXPECT_EQ(m_ftp->ErrorNumber(), 16550);
  auto files = m_ftp->GetRemoteFilesInfo("pub/");
  EXPECT_EQ(Names(files.get()).size(), 7u) << m_ftp->ErrorNumber() << " " << m_ftp->ErrorInfo();
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

TEST_F(DataConnectionTest, ActiveDataConnectionThatNeverComesTimesOut) {
  ASSERT_TRUE(LoginOk());
  m_ftp->SetPassiveMode(false);
  m_server.Expect("TYPE A", "200 ok")
      .ExpectMatch("PORT .*")
      .Reply("200 ok")
      .Expect("LIST pub", "150 Opening data connection.")
      .ExpectClose()
      .Login();  // the next operation logs in afresh
  const auto before = m_loop.Clock()->Elapsed();
  EXPECT_EQ(m_ftp->GetRemoteFilesInfo("pub/"), nullptr);
  EXPECT_EQ(m_ftp->ErrorNumber(), kErrTimedOut);
  EXPECT_GE(m_loop.Clock()->Elapsed() - before, Duration(30s));
  ExpectNextOperationRuns();
  EXPECT_EQ(m_server.ConnectionCount(), 2);
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

TEST_F(DataConnectionTest, PassiveListingWhoseDataNeverEndsTimesOut) {
  ASSERT_TRUE(LoginOk());
  // The final reply alone does not end a listing whose data is still open.
  m_server.Expect("TYPE A", "200 ok")
      .Expect("PASV")
      .Pasv()
      .Expect("LIST pub", "150 ok")
      .DataSend(Line('-', 5, "R1.txt"))
      .Reply("226 ok")
      .Stall();
  EXPECT_EQ(m_ftp->GetRemoteFilesInfo("pub/"), nullptr);
  EXPECT_EQ(m_ftp->ErrorNumber(), kErrTimedOut);
  EXPECT_EQ(m_ftp->Operation(), kOpNone);
}

// A listing cut short by the server's leaving is no listing, and one longer
// than the limit stops there instead of filling memory.
TEST_F(DataConnectionTest, CutOrEndlessListingFails) {
  ASSERT_TRUE(LoginOk());
  m_ftp->SetMaxListingBytes(64 * 1024);
  std::string endless;
  while (endless.size() < 200 * 1024) endless += Line('-', 1, "x" + std::to_string(endless.size()) + ".txt");
  m_server.Expect("TYPE A", "200 ok").Expect("PASV").Pasv().Expect("LIST pub", "150 ok");
  m_server.DataSend(Line('-', 5, "R1.txt")).Drop();
  EXPECT_EQ(m_ftp->GetRemoteFilesInfo("pub/"), nullptr);
  EXPECT_EQ(m_ftp->ErrorNumber(), kErrConnectionInterrupted);

  m_server.Login().Expect("TYPE A", "200 ok").Expect("PASV").Pasv().Expect("LIST pub", "150 ok").DataSend(endless);
  m_server.ExpectClose().Login();
  EXPECT_EQ(m_ftp->GetRemoteFilesInfo("pub/"), nullptr);
  EXPECT_EQ(m_ftp->ErrorNumber(), kErrListingTooLong);
  EXPECT_EQ(m_ftp->ErrorInfo(), "The listing is longer than 256 MiB");
  ExpectNextOperationRuns();
  EXPECT_EQ(m_server.ConnectionCount(), 3);
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

// ---- the final reply and the end of the data, in either order

struct EndingOrder {
  const char* name;
  std::function<void(FakeFtpServer&, const std::string& body)> script;  // after "LIST pub"
};
void PrintTo(const EndingOrder& row, std::ostream* os) { *os << row.name; }

class EndingOrderTest : public DataConnectionTest, public ::testing::WithParamInterface<EndingOrder> {};

TEST_P(EndingOrderTest, ListingIsWhole) {
  ASSERT_TRUE(LoginOk());
  std::string body;
  for (int i = 0; i < 300; ++i) body += Line('-', i, "R" + std::to_string(i) + ".txt");
  m_server.Expect("TYPE A", "200 ok").Expect("PASV").Pasv().Expect("LIST pub");
  GetParam().script(m_server, body);
  m_server.Expect("PWD", "257 \"/next\" is cwd");
  auto files = m_ftp->GetRemoteFilesInfo("pub/");
  ASSERT_NE(files, nullptr) << m_ftp->ErrorNumber() << " " << m_ftp->ErrorInfo();
  ASSERT_EQ(files->Count(), 300u);
  EXPECT_EQ(files->Item(size_t{300})->FileName(), "R299.txt");
  EXPECT_EQ(files->Item(size_t{300})->FileSize(), 299);
  EXPECT_EQ(m_ftp->GetCurrentDirectory(), "/next");
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Orders, EndingOrderTest,
    ::testing::Values(
        EndingOrder{"DataThenReply",
                    [](FakeFtpServer& s, const std::string& b) { s.Reply("150 ok").DataSend(b).DataClose().Reply("226 ok"); }},
        EndingOrder{"ReplyLongBeforeData",
                    [](FakeFtpServer& s, const std::string& b) {
                      s.Reply("150 ok").Reply("226 ok").Delay(5s).DataSend(b).DataClose();
                    }},
        EndingOrder{"ReplyInTheMiddleOfTheData",
                    [](FakeFtpServer& s, const std::string& b) {
                      s.Reply("150 ok")
                          .DataSend(b.substr(0, 1000))
                          .Reply("226 ok")
                          .Delay(2s)
                          .DataSend(b.substr(1000))
                          .DataClose();
                    }},
        EndingOrder{"CloseLongBeforeReply",
                    [](FakeFtpServer& s, const std::string& b) {
                      s.Reply("150 ok").DataSend(b).DataClose().Delay(5s).Reply("226 ok");
                    }},
        EndingOrder{"ByteByByteThen250",
                    [](FakeFtpServer& s, const std::string& b) {
                      s.Reply("125 ok").DataSend(b.substr(0, 200), {.chunk = 1, .gap = 1ms}).DataSend(b.substr(200));
                      s.DataClose().Reply("250 ok");
                    }},
        EndingOrder{"MultiLineFinalReply",
                    [](FakeFtpServer& s, const std::string& b) {
                      s.Reply("150 Accepted data connection")
                          .DataSend(b)
                          .Reply("226-Options: -l \r\n226 300 matches total")
                          .Delay(1s)
                          .DataClose();
                    }}),
    [](const ::testing::TestParamInfo<EndingOrder>& info) { return std::string(info.param.name); });

// ---- active-mode ports

TEST_F(DataConnectionTest, ActiveModeGivesUpAfterFiftyTakenPorts) {
  ASSERT_TRUE(LoginOk());
  m_ftp->SetPassiveMode(false);
  m_server.AnswerByDefault();
  m_server.SetListing(Line('-', 1, "x"));
  ASSERT_NE(m_ftp->GetRemoteFilesInfo("pub/"), nullptr) << m_ftp->ErrorInfo();
  const int last = LastPort(m_server.Transcript());
  ASSERT_GT(last, 0);

  // Take the next fifty ports the counter will hand out.
  std::vector<int> blockers;
  for (int port = last + 1; port <= last + 50 && port <= 65535; ++port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // A port left in TIME_WAIT by an earlier run is free for this listener.
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 1) != 0) {
      close(fd);  // taken by someone else: taken all the same
      continue;
    }
    blockers.push_back(fd);
  }
  const size_t sentBefore = m_server.Transcript().size();
  EXPECT_EQ(m_ftp->GetRemoteFilesInfo("pub/"), nullptr);
  EXPECT_EQ(m_ftp->ErrorNumber(), 10048);
  EXPECT_EQ(m_ftp->Operation(), kOpNone);
  m_loop.Loop().RunFor(50ms);
  // TYPE went out; no PORT naming a port that is not ours.
  EXPECT_THAT(std::vector<std::string>(m_server.Transcript().begin() + sentBefore, m_server.Transcript().end()),
              ElementsAre("TYPE A"));
  for (int fd : blockers) close(fd);

  // The count went on past the taken ports.
  EXPECT_NE(m_ftp->GetRemoteFilesInfo("pub/"), nullptr) << m_ftp->ErrorInfo();
  EXPECT_GT(LastPort(m_server.Transcript()), last + 50);
}

}  // namespace
}  // namespace pellan
