// The tests' one raw TCP peer, with no engine code in it: a client of a real
// server (the round-trip benchmark), the far end of a socket under test, and
// the scripted server's end of each of its connections; with plain blocking
// connections for the scripted server's active mode and an intruder on a
// data port. Every wait runs the current event loop (so virtual time passes
// under a TestClock) and ends after the time-out given at construction.
// Numeric IPv4 addresses only: nothing here resolves names.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/event_loop.h"

namespace pellan::test {

class RawFtpClient {
 public:
  explicit RawFtpClient(Duration timeout = std::chrono::seconds(10)) : m_timeout(timeout) {}
  ~RawFtpClient() { Close(); }
  RawFtpClient(const RawFtpClient&) = delete;
  RawFtpClient& operator=(const RawFtpClient&) = delete;

  // Waits for a connection on a listening socket (see Listen) and takes it.
  bool Accept(int listenFd);
  // Takes a connected socket; `onEvents` runs after each round of sending and
  // reading (it may let go of this peer).
  void Adopt(int fd, std::function<void()> onEvents = {});
  // With `reset`, an RST instead of a FIN (SO_LINGER 0).
  void Close(bool reset = false);

  // Sends every byte, waiting while the system's buffers are full.
  bool Send(const std::string& bytes);
  // Sends what the system takes now and keeps the rest for later, without waiting.
  void Queue(const std::string& bytes) { m_out += bytes, OnEvents(0); }
  bool Sending() const { return !m_out.empty(); }
  // What came and was not taken yet.
  std::string& Received() { return m_in; }
  bool PeerClosed() const { return m_peerClosed; }

  // A connected socket to host:port, from the local address `from` when
  // given; -1 with errno set. Blocking: on loopback a connection is made, or
  // refused, at once, whether or not anybody accepts it yet.
  static int ConnectTo(uint16_t port, const std::string& host = "127.0.0.1", const std::string& from = "");
  // True when something accepts TCP connections at 127.0.0.1:port.
  static bool PortAccepts(uint16_t port) {
    const int fd = ConnectTo(port);
    return fd >= 0 && close(fd) == 0;
  }
  // A listening socket on 127.0.0.1 at *port, or (0) at a port of the
  // system's choosing, written to *port; -1 when the port is taken.
  static int Listen(uint16_t* port);

 private:
  bool WaitFor(const std::function<bool()>& done) { return CurrentLoop().WaitFor(done, m_timeout); }
  void OnEvents(unsigned events);
  void Interest();

  Duration m_timeout;
  int m_fd = -1;
  LoopWatch m_watch;
  std::function<void()> m_onEvents;
  bool m_peerClosed = false;
  std::string m_in, m_out;
};

}  // namespace pellan::test
