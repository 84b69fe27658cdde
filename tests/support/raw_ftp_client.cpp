#include "support/raw_ftp_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace pellan::test {

namespace {
bool Address(const std::string& host, uint16_t port, sockaddr_in* a) {
  *a = sockaddr_in{};
  a->sin_family = AF_INET;
  a->sin_port = htons(port);
  if (inet_pton(AF_INET, host.c_str(), &a->sin_addr) == 1) return true;
  errno = EINVAL;  // not a numeric IPv4 address
  return false;
}
}  // namespace

void RawFtpClient::Close(bool reset) {
  m_watch.Reset();
  const linger rst{1, 0};
  if (m_fd >= 0 && reset) setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &rst, sizeof rst);
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
  m_in.clear();
  m_out.clear();
  m_peerClosed = false;
}

void RawFtpClient::Adopt(int fd, std::function<void()> onEvents) {
  m_fd = fd;
  m_onEvents = std::move(onEvents);
  // Every small piece leaves at once: with Nagle's algorithm it waits for the
  // peer's delayed ACK (tens of real milliseconds), which a loop on virtual
  // time does not wait for.
  const int one = 1;
  setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  m_watch = LoopWatch(m_fd, kIoRead, [this](unsigned events) { OnEvents(events); });
  Interest();
}

void RawFtpClient::Interest() {
  if (m_fd < 0) return;
  m_watch.SetInterest((m_peerClosed ? 0u : unsigned{kIoRead}) | (m_out.empty() ? 0u : unsigned{kIoWrite}));
}

void RawFtpClient::OnEvents(unsigned) {
  while (!m_out.empty()) {
    const ssize_t n = send(m_fd, m_out.data(), m_out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n <= 0) {
      if (n < 0 && errno != EAGAIN && errno != EINTR) m_out.clear(), m_peerClosed = true;  // the peer is gone
      break;
    }
    m_out.erase(0, static_cast<size_t>(n));
  }
  while (!m_peerClosed) {
    char buf[65536];
    const ssize_t n = recv(m_fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
      m_in.append(buf, static_cast<size_t>(n));
    } else {
      if (n == 0 || (errno != EAGAIN && errno != EINTR)) m_peerClosed = true;
      break;
    }
  }
  Interest();
  const auto onEvents = m_onEvents;  // a copy: the call may end this peer
  if (onEvents) onEvents();
}

int RawFtpClient::ConnectTo(uint16_t port, const std::string& host, const std::string& from) {
  sockaddr_in a{}, local{};
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && Address(host, port, &a) && (from.empty() || Address(from, 0, &local)) &&
      (from.empty() || bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0) &&
      connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    return fd;
  }
  const int error = errno;
  if (fd >= 0) close(fd);
  errno = error;
  return -1;
}

bool RawFtpClient::Accept(int listenFd) {
  Close();
  int fd = -1;
  LoopWatch wake(listenFd, kIoRead, [](unsigned) {});
  WaitFor([&] { return (fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0; });
  if (fd < 0) return false;
  Adopt(fd);
  return true;
}

bool RawFtpClient::Send(const std::string& bytes) {
  if (m_fd < 0) return false;
  m_out += bytes;
  OnEvents(0);
  return WaitFor([this] { return m_out.empty(); }) && !m_peerClosed;
}

int RawFtpClient::Listen(uint16_t* port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0), on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);  // a port left in TIME_WAIT is free here
  sockaddr_in a{};
  Address("127.0.0.1", *port, &a);
  socklen_t len = sizeof a;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 16) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    close(fd);
    return -1;
  }
  *port = ntohs(a.sin_port);
  return fd;
}

}  // namespace pellan::test
