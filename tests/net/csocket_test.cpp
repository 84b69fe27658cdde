// What the engine's sessions never do with a socket or never check: errors
// without a connection, peeks and short reads, a sink in place of the slot,
// a close while data is still queued, a server gone before its greeting.
// Connecting, streaming and the peer's ways of going are the engine's tests'.
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "net/csocket.h"
#include "net/socket_support.h"
#include "support/raw_ftp_client.h"
#include "support/test_env.h"

namespace pellan {
namespace {

using namespace std::chrono_literals;
using test::RawFtpClient;

// The socket layer's last error: "number source".
std::string LastError() { return std::to_string(LastSocketLayerErrorNumber()) + " " + LastSocketLayerErrorSource(); }

class CSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearSocketLayerError();
    m_socket.OnError = [this] { ++m_errors; };
  }
  ~CSocketTest() override { close(m_listenFd); }

  test::ScopedLoop m_loop;
  uint16_t m_port = 0;
  int m_listenFd = RawFtpClient::Listen(&m_port);
  CSocket m_socket;
  int m_errors = 0;
};

TEST_F(CSocketTest, ErrorsWithoutAConnection) {
  m_socket.SetExpectsGreeting(true);
  EXPECT_FALSE(m_socket.SendData("NOOP\r\n"));
  EXPECT_EQ(LastError() + " " + std::to_string(m_errors) + std::to_string(m_socket.ExpectsGreeting()),
            "40006 CSocket.SendData 10");
  EXPECT_FALSE(m_socket.Connect());  // no host at all
  EXPECT_EQ(LastSocketLayerErrorNumber(), 20001);
  // An empty label fails in the resolver itself: no query leaves the machine.
  m_socket.SetRemoteHost("no-such-host..invalid");
  EXPECT_EQ(m_socket.RemoteHost() + std::to_string(LastSocketLayerErrorNumber()), "11001");
  EXPECT_FALSE(m_socket.Connect());
  EXPECT_EQ(LastError() + " " + std::to_string(m_errors), "11001 CSocket.Connect 3");
}

TEST_F(CSocketTest, PeekShortReadsAndACloseWhileDataIsQueued) {
  m_socket.SetRemoteHost("127.0.0.1");
  m_socket.SetRemotePort(m_port);
  ASSERT_TRUE(m_socket.Connect());
  RawFtpClient peer;
  ASSERT_TRUE(peer.Accept(m_listenFd));
  ASSERT_TRUE(m_loop.Loop().WaitFor([&] { return m_socket.State() == CSocket::kStateConnected; }, 10s));
  EXPECT_TRUE(m_socket.LocalIP() == "127.0.0.1" && !m_socket.LocalHostName().empty() && m_socket.LocalPort() > 0);

  // Text keeps its CR LF; a peek leaves the slot; a short read takes the front.
  int arrivals = 0;
  m_socket.OnDataArrival = [&](double) { ++arrivals; };
  peer.Send("220 hello\r\n");
  ASSERT_TRUE(m_loop.Loop().WaitFor([&] { return arrivals == 1; }, 10s));
  std::string got, reads;  // each read: whether it gave something, what, and the bytes left
  const auto read = [&](bool ok) { reads += std::to_string(ok) + got + std::to_string(static_cast<long>(m_socket.BytesReceived())) + "|"; };
  read(m_socket.PeekData(got));
  read(m_socket.GetData(got, VarType::kText, 3));
  read(m_socket.GetData(got));
  EXPECT_EQ(reads, "1220 hello\r\n11|12208|1 hello\r\n0|");
  EXPECT_FALSE(m_socket.GetData(got));
  // With a sink, what arrives goes there and the slot stays empty.
  ByteSink sink;
  m_socket.SetReceiveSink(&sink);
  peer.Send("sunk");
  ASSERT_TRUE(m_loop.Loop().WaitFor([&] { return arrivals == 2; }, 10s));
  EXPECT_EQ(sink.View(), "sunk");
  EXPECT_FALSE(m_socket.GetData(got));

  // More than the loopback buffers hold, then a close: all of it goes out
  // before the end of sending, and the socket waits for the peer's close.
  int closes = 0;
  m_socket.OnClose = [&] { ++closes; };
  const std::string payload(16 << 20, 'q');
  ASSERT_TRUE(m_socket.SendData(payload));
  m_socket.CloseSocket();
  EXPECT_EQ(m_socket.State(), CSocket::kStateClosing);
  ASSERT_TRUE(m_loop.Loop().WaitFor([&] { return peer.PeerClosed(); }, 60s));
  EXPECT_EQ(peer.Received().size(), payload.size());
  EXPECT_EQ(closes, 0);
  peer.Close();
  ASSERT_TRUE(m_loop.Loop().WaitFor([&] { return closes == 1; }, 10s));
  EXPECT_EQ(m_socket.SocketHandle(), -1);
  EXPECT_EQ(m_errors, 0);
}

}  // namespace
}  // namespace pellan
