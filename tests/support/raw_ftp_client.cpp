#include "support/raw_ftp_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pellan::test {

namespace {
using SteadyTime = std::chrono::steady_clock::time_point;

int MsLeft(SteadyTime deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}
}  // namespace

RawFtpClient::RawFtpClient(std::chrono::milliseconds timeout) : m_timeout(timeout) {}

RawFtpClient::~RawFtpClient() { Close(); }

void RawFtpClient::Close() {
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
  m_buffer.clear();
}

bool RawFtpClient::Connect(uint16_t port, const std::string& host) {
  Close();
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (inet_pton(AF_INET, host.c_str(), &a.sin_addr) != 1) {
    m_error = "not a numeric IPv4 address: " + host;
    return false;
  }
  m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (m_fd < 0) {
    m_error = strerror(errno);
    return false;
  }
  if (connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    if (errno != EINPROGRESS) {
      m_error = std::string("connect: ") + strerror(errno);
      Close();
      return false;
    }
    pollfd p{m_fd, POLLOUT, 0};
    int err = 0;
    socklen_t len = sizeof err;
    if (poll(&p, 1, static_cast<int>(m_timeout.count())) != 1 ||
        getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
      m_error = std::string("connect: ") + (err ? strerror(err) : "timed out");
      Close();
      return false;
    }
  }
  return true;
}

bool RawFtpClient::ReadLine(std::string& line, SteadyTime deadline) {
  for (;;) {
    size_t eol = m_buffer.find("\r\n");
    if (eol != std::string::npos) {
      line = m_buffer.substr(0, eol);
      m_buffer.erase(0, eol + 2);
      return true;
    }
    if (m_fd < 0) return false;
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, MsLeft(deadline)) != 1) {
      m_error = "timed out waiting for a reply";
      return false;
    }
    char buf[4096];
    ssize_t n = recv(m_fd, buf, sizeof buf, 0);
    if (n <= 0) {
      m_error = n == 0 ? "connection closed by the server" : std::string("recv: ") + strerror(errno);
      return false;
    }
    m_buffer.append(buf, static_cast<size_t>(n));
  }
}

std::string RawFtpClient::ReadReply() {
  const SteadyTime deadline = std::chrono::steady_clock::now() + m_timeout;
  std::string line;
  if (!ReadLine(line, deadline)) return "";
  std::string reply = line;
  // "123-" opens a multi-line reply that ends with a line "123 ".
  if (line.size() >= 4 && Code(line) >= 0 && line[3] == '-') {
    const std::string end = line.substr(0, 3) + " ";
    do {
      if (!ReadLine(line, deadline)) return "";
      reply += "\r\n" + line;
    } while (line.compare(0, 4, end) != 0);
  }
  return reply;
}

bool RawFtpClient::SendLine(const std::string& line) {
  const std::string bytes = line + "\r\n";
  size_t sent = 0;
  const SteadyTime deadline = std::chrono::steady_clock::now() + m_timeout;
  while (m_fd >= 0 && sent < bytes.size()) {
    ssize_t n = send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd p{m_fd, POLLOUT, 0};
      if (poll(&p, 1, MsLeft(deadline)) == 1) continue;
    }
    m_error = std::string("send: ") + strerror(errno);
    return false;
  }
  return m_fd >= 0;
}

bool RawFtpClient::Login(const std::string& user, const std::string& password) {
  if (Code(ReadReply()) != 220) return false;
  std::string reply = Command("USER " + user);
  if (Code(reply) == 331) reply = Command("PASS " + password);
  if (Code(reply) != 230) {
    m_error = "login refused: " + reply;
    return false;
  }
  return true;
}

bool RawFtpClient::WaitForClose() {
  const SteadyTime deadline = std::chrono::steady_clock::now() + m_timeout;
  if (!m_buffer.empty() || m_fd < 0) return false;
  pollfd p{m_fd, POLLIN, 0};
  if (poll(&p, 1, MsLeft(deadline)) != 1) return false;
  char c;
  return recv(m_fd, &c, 1, 0) <= 0;
}

int RawFtpClient::Code(const std::string& reply) {
  if (reply.size() < 3) return -1;
  for (int i = 0; i < 3; ++i) {
    if (reply[i] < '0' || reply[i] > '9') return -1;
  }
  return std::stoi(reply.substr(0, 3));
}

bool RawFtpClient::PortAccepts(uint16_t port) {
  RawFtpClient probe(std::chrono::seconds(2));
  return probe.Connect(port);
}

}  // namespace pellan::test
