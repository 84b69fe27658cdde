#include <unistd.h>

#include <functional>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "net/csocket.h"
#include "net/socket_support.h"
#include "support/raw_ftp_client.h"
#include "support/test_env.h"

namespace pellan {
namespace {

using namespace std::chrono_literals;
using test::ScopedLoop;

using test::RawFtpClient;

// Waits for `done`, pumping the loop.
bool Wait(const std::function<bool()>& done, Duration timeout = 10s) { return CurrentLoop().WaitFor(done, timeout); }

// The socket layer's last error: "number source".
std::string LastError() { return std::to_string(LastSocketLayerErrorNumber()) + " " + LastSocketLayerErrorSource(); }

// Counts every event a socket raises.
struct EventCounts {
  int error = 0, close = 0, connect = 0, request = 0, arrival = 0, complete = 0, progress = 0;
  double arrived = 0, sent = 0, lastRemaining = -1;
  void Attach(CSocket& s) {
    s.OnError = [this] { ++error; };
    s.OnClose = [this] { ++close; };
    s.OnConnect = [this] { ++connect; };
    s.OnConnectionRequest = [this](long) { ++request; };
    s.OnDataArrival = [this](double n) {
      ++arrival;
      arrived += n;
    };
    s.OnSendComplete = [this] { ++complete; };
    s.OnSendProgress = [this](double n, double remaining) {
      ++progress;
      sent += n;
      lastRemaining = remaining;
    };
  }
};

class CSocketTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearSocketLayerError(); }
  // Connects `s` to 127.0.0.1:port and waits for the outcome.
  bool ConnectTo(CSocket& s, long port) {
    s.SetRemoteHost("127.0.0.1");
    s.SetRemotePort(port);
    if (!s.Connect()) return false;
    return Wait([&] { return s.State() != CSocket::kStateConnecting; });
  }
  // `m_socket` (its events counted in `m_ev`) connected to the raw peer.
  RawFtpClient& ConnectedPeer() {
    m_ev.Attach(m_socket);
    EXPECT_TRUE(ConnectTo(m_socket, m_port));
    EXPECT_TRUE(m_peer.Accept(m_listenFd));
    return m_peer;
  }
  ~CSocketTest() override { close(m_listenFd); }
  ScopedLoop m_loop;
  uint16_t m_port = 0;
  int m_listenFd = RawFtpClient::Listen(&m_port);
  RawFtpClient m_peer;
  CSocket m_socket;
  EventCounts m_ev;
};

TEST_F(CSocketTest, SendWithoutAHandleIs40006WithOnError) {
  CSocket s;
  EventCounts ev;
  ev.Attach(s);
  s.SetExpectsGreeting(true);
  EXPECT_FALSE(s.SendData("NOOP\r\n"));
  EXPECT_EQ(LastError() + " " + std::to_string(ev.error) + std::to_string(s.ExpectsGreeting()), "40006 CSocket.SendData 10");
}

TEST_F(CSocketTest, ListenAcceptConnectTalkAndStreamBothWays) {
  CSocket server, accepted, client;
  EventCounts sv, ac, cl;
  sv.Attach(server);
  ac.Attach(accepted);
  cl.Attach(client);
  server.OnConnectionRequest = [&](long id) {
    ++sv.request;
    EXPECT_TRUE(accepted.Accept(id));
  };
  ASSERT_TRUE(server.Bind(0, "127.0.0.1"));
  ASSERT_TRUE(server.Listen());
  EXPECT_EQ(server.State(), CSocket::kStateListening);
  ASSERT_GT(server.LocalPort(), 0);
  ASSERT_TRUE(ConnectTo(client, server.LocalPort()));
  ASSERT_TRUE(Wait([&] { return accepted.State() == CSocket::kStateConnected; }));
  EXPECT_EQ(client.State(), CSocket::kStateConnected);
  EXPECT_EQ(std::to_string(cl.connect) + std::to_string(sv.request), "11");
  EXPECT_EQ(accepted.RemoteHost() + " " + accepted.LocalHostName() + " " + client.LocalIP(), "127.0.0.1 127.0.0.1 127.0.0.1");
  EXPECT_EQ(accepted.RemotePort(), client.LocalPort());

  // Text keeps its CR LF; a peek leaves the slot; a short read takes the front.
  ASSERT_TRUE(client.SendData("220 hello\r\n"));
  ASSERT_TRUE(Wait([&] { return ac.arrival == 1; }));
  // Each read: whether it gave something, what, and the bytes left.
  std::string got, reads;
  const auto read = [&](bool ok) { reads += std::to_string(ok) + got + std::to_string(static_cast<long>(accepted.BytesReceived())) + "|"; };
  read(accepted.PeekData(got));
  read(accepted.GetData(got, VarType::kText, 3));
  read(accepted.GetData(got));
  EXPECT_EQ(reads, "1220 hello\r\n11|12208|1 hello\r\n0|");
  EXPECT_FALSE(accepted.GetData(got));
  EXPECT_EQ(sv.error + ac.error + cl.error, 0);

  // Random-sized pieces both ways at once.
  std::mt19937 rng(12345);
  auto makePayload = [&](size_t n) {
    std::string p(n, '\0');
    for (char& c : p) c = static_cast<char>(rng());
    return p;
  };
  const std::string toB = makePayload(3 << 20), toA = makePayload(5 << 20 | 12345);
  std::string gotA, gotB;
  auto reader = [](CSocket& s, std::string& into) {
    return [&s, &into](double) {
      std::string chunk;
      s.GetData(chunk, VarType::kByteArray);
      into += chunk;
    };
  };
  accepted.OnDataArrival = reader(accepted, gotA);
  client.OnDataArrival = reader(client, gotB);
  // Each side queues its next random-sized piece when the last one is out.
  auto feeder = [&rng](CSocket& s, const std::string& all) {
    auto offset = std::make_shared<size_t>(0);
    auto next = [&s, &all, &rng, offset] {
      if (*offset >= all.size()) return;
      const size_t n = std::min<size_t>(all.size() - *offset, 1 + rng() % 200'000);
      s.SendBytes(all.data() + *offset, n);
      *offset += n;
    };
    s.OnSendComplete = next;
    return next;
  };
  feeder(accepted, toB)();
  feeder(client, toA)();
  ASSERT_TRUE(Wait([&] { return gotA.size() >= toA.size() && gotB.size() >= toB.size(); }, 60s));
  EXPECT_TRUE(gotA == toA);
  EXPECT_TRUE(gotB == toB);
}

TEST_F(CSocketTest, ConnectionRequestNobodyTakesIsClosed) {
  CSocket server;
  int requests = 0;
  server.OnConnectionRequest = [&](long) { ++requests; };
  ASSERT_TRUE(server.Bind(0, "127.0.0.1"));
  ASSERT_TRUE(server.Listen());
  RawFtpClient raw;
  ASSERT_TRUE(raw.Connect(static_cast<uint16_t>(server.LocalPort()))) << raw.Error();
  ASSERT_TRUE(Wait([&] { return requests == 1; }));
  EXPECT_TRUE(raw.WaitForClose());
  EXPECT_EQ(RegisteredSocketCount(), 1);  // the listener only
}

TEST_F(CSocketTest, RefusedConnectIsRecordedWithoutAnEvent) {
  CSocket s;
  EventCounts ev;
  ev.Attach(s);
  ASSERT_TRUE(ConnectTo(s, RawFtpClient::FreePort()));
  EXPECT_EQ(s.State(), CSocket::kStateError);
  EXPECT_EQ(s.SocketHandle(), -1);
  EXPECT_EQ(LastError(), "10061 --PostSocketEvent--ErrorDeal---");
  EXPECT_EQ(s.m_lngPostEventErrorID, kEventConnect);
  EXPECT_EQ(ev.error + ev.connect + ev.close, 0);
}

TEST_F(CSocketTest, UnresolvableHostReadsEmptyAndConnectFailsWith11001) {
  CSocket s;
  EventCounts ev;
  ev.Attach(s);
  // An empty label fails in the resolver itself: no query leaves the machine.
  s.SetRemoteHost("no-such-host..invalid");
  EXPECT_EQ(s.RemoteHost() + std::to_string(LastSocketLayerErrorNumber()), "11001");
  EXPECT_FALSE(s.Connect());
  EXPECT_EQ(LastError() + " " + std::to_string(ev.error), "11001 CSocket.Connect 1");

  CSocket fresh;  // no host at all
  EXPECT_FALSE(fresh.Connect());
  EXPECT_EQ(LastSocketLayerErrorNumber(), 20001);
}

TEST_F(CSocketTest, InjectedResolverIsUsedForNames) {
  SetResolver([](const std::string& name, int* error) {
    *error = 0;
    return name == "ftp.test" ? std::string("127.0.0.1") : std::string();
  });
  CSocket s;
  s.SetRemoteHost("ftp.test");
  EXPECT_EQ(s.RemoteHost(), "127.0.0.1");
  s.SetRemoteHost("10.1.2.3");  // dotted: taken as it is, never resolved
  EXPECT_EQ(s.RemoteHost(), "10.1.2.3");
  SetResolver(nullptr);
}

// How the peer goes: before the greeting while connecting (a failed
// connect), after it (an ordinary close), or with a reset.
TEST_F(CSocketTest, PeerGoing) {
  const struct {
    const char* name;
    std::function<void(RawFtpClient&)> go;
    long state;
    long error;
    int closes;
    bool connecting;  // the control waits for its greeting
  } rows[] = {
      {"closed before the greeting", [](RawFtpClient& p) { p.Close(); }, CSocket::kStateError, 16006, 0, true},
      {"closed after the greeting", [](RawFtpClient& p) { p.Send("220 ready\r\n"), p.Close(); }, CSocket::kStateClosing, 0,
       1, true},
      {"reset", [](RawFtpClient& p) { p.Reset(); }, CSocket::kStateError, 10054, 0, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    CSocket s;
    EventCounts ev;
    ev.Attach(s);
    ClearSocketLayerError();
    s.SetExpectsGreeting(r.connecting);
    ASSERT_TRUE(ConnectTo(s, m_port));
    ASSERT_TRUE(m_peer.Accept(m_listenFd));
    r.go(m_peer);
    ASSERT_TRUE(Wait([&] { return s.State() == r.state && ev.close == r.closes; }));
    // The error number; connecting, errors and connects raised.
    EXPECT_EQ(std::to_string(LastSocketLayerErrorNumber()) + " " + std::to_string(s.ExpectsGreeting()) +
                  std::to_string(ev.error) + std::to_string(ev.connect),
              std::to_string(r.error) + " 001");
    EXPECT_TRUE(r.error != 10054 || s.m_lngPostEventErrorID == kEventClose);
  }
}

TEST_F(CSocketTest, TwoChunksWithoutAReadLeaveOnlyTheSecond) {
  RawFtpClient& peer = ConnectedPeer();
  peer.Send("first");
  ASSERT_TRUE(Wait([&] { return m_ev.arrival == 1; }));
  peer.Send("second!");
  ASSERT_TRUE(Wait([&] { return m_ev.arrival == 2; }));
  EXPECT_EQ(m_socket.BytesReceived(), 12);
  std::string got;
  EXPECT_TRUE(m_socket.GetData(got, VarType::kByteArray));
  EXPECT_EQ(got + std::to_string(static_cast<long>(m_socket.BytesReceived())), "second!0");
}

TEST_F(CSocketTest, PeerCloseDeliversEveryRemainingChunkBeforeOnClose) {
  RawFtpClient& peer = ConnectedPeer();
  CSocket& s = m_socket;
  s.SetChunkSize(40960);
  std::string received;
  int closes = 0;
  bool dataAfterClose = false;
  s.OnDataArrival = [&](double) {
    if (closes) dataAfterClose = true;
    std::string chunk;
    s.GetData(chunk, VarType::kByteArray);
    received += chunk;
  };
  s.OnClose = [&] { ++closes; };
  std::string payload(300'000, '\0');
  std::mt19937 rng(7);
  for (char& c : payload) c = static_cast<char>(rng());
  ASSERT_TRUE(peer.Send(payload));  // fits in the loopback buffers
  peer.Close();
  ASSERT_TRUE(Wait([&] { return closes > 0; }, 20s));
  CurrentLoop().Pump();
  EXPECT_EQ(std::to_string(closes) + std::to_string(dataAfterClose), "10");
  EXPECT_EQ(received, payload);
}

TEST_F(CSocketTest, ReceiveSinkTakesOneConnectionWholeThenTheSlotServesAgain) {
  CSocket s;
  s.SetChunkSize(40960);  // many chunks, so the sink grows while it fills
  ByteSink sink;
  int closes = 0, arrivals = 0, slotReads = 0;
  s.OnDataArrival = [&](double) {
    ++arrivals;
    std::string chunk;
    if (s.GetData(chunk, VarType::kByteArray)) ++slotReads;
  };
  s.OnClose = [&] { ++closes; };
  ASSERT_TRUE(ConnectTo(s, m_port));
  s.SetReceiveSink(&sink);
  RawFtpClient& peer = m_peer;
  ASSERT_TRUE(peer.Accept(m_listenFd));
  std::string payload(300'000, '\0');
  std::mt19937 rng(11);
  for (char& c : payload) c = static_cast<char>(rng());
  peer.Send(payload);
  peer.Close();
  ASSERT_TRUE(CurrentLoop().WaitFor([&] { return closes > 0; }, 20s));
  EXPECT_EQ(sink.View(), payload);
  EXPECT_TRUE(arrivals > 1 && slotReads == 0) << arrivals << " " << slotReads;

  // The sink served that connection only: the next one reads into the slot.
  ASSERT_TRUE(ConnectTo(s, m_port));
  RawFtpClient next;
  ASSERT_TRUE(next.Accept(m_listenFd));
  next.Send("next");
  ASSERT_TRUE(CurrentLoop().WaitFor([&] { return slotReads == 1; }, 10s));
  EXPECT_EQ(sink.Size(), payload.size());
}

TEST_F(CSocketTest, PartialSendsToASlowReaderKeepTheirOrderAndCompleteOnce) {
  RawFtpClient& peer = ConnectedPeer();
  peer.PauseReading(true);
  // More than the loopback buffers hold: the system takes it in parts.
  std::string payload(16 << 20, 'x');
  for (size_t i = 0; i < payload.size(); i += 4093) payload[i] = static_cast<char>('a' + i % 26);
  const std::string tail = "and the tail";
  ASSERT_TRUE(m_socket.SendData(payload, -1));
  EXPECT_GT(m_socket.PendingSendLength(), 0);  // the system could not take it all
  ASSERT_TRUE(m_socket.SendData(tail));        // queued behind it
  // The peer does not read for a while: nothing completes meanwhile.
  CurrentLoop().RunFor(50ms);
  EXPECT_EQ(m_ev.complete, 0);
  peer.PauseReading(false);
  const size_t all = payload.size() + tail.size();
  ASSERT_TRUE(Wait([&] { return peer.Received().size() == all && m_ev.complete > 0; }, 60s));
  CurrentLoop().RunFor(20ms);
  EXPECT_TRUE(peer.Received() == payload + tail);
  // Completes once, after more than one progress event, and nothing fails.
  EXPECT_EQ(std::to_string(m_ev.complete) + std::to_string(m_ev.progress > 1) + std::to_string(m_ev.error), "110");
  EXPECT_EQ(m_ev.sent, static_cast<double>(all));
  EXPECT_EQ(m_ev.lastRemaining, 0);
}

TEST_F(CSocketTest, GracefulCloseSendsWhatIsQueuedThenWaitsForThePeer) {
  RawFtpClient& peer = ConnectedPeer();
  const std::string payload(16 << 20, 'q');
  ASSERT_TRUE(m_socket.SendData(payload));
  m_socket.CloseSocket();  // while most of it is still queued
  EXPECT_EQ(m_socket.State(), CSocket::kStateClosing);
  ASSERT_TRUE(Wait([&] { return peer.PeerClosed(); }, 60s));
  EXPECT_EQ(peer.Received().size(), payload.size());
  EXPECT_EQ(m_ev.close, 0);
  peer.Close();
  ASSERT_TRUE(Wait([&] { return m_ev.close == 1; }));
  EXPECT_EQ(m_socket.SocketHandle(), -1);
}

}  // namespace
}  // namespace pellan
