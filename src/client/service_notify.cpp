#include "client/service_notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace pellan::client {

ServiceNotifier::ServiceNotifier() {
  const char* socketName = std::getenv("NOTIFY_SOCKET");
  if (socketName == nullptr || (socketName[0] != '/' && socketName[0] != '@')) return;
  m_address = socketName;
  if (m_address[0] == '@') m_address[0] = '\0';
  if (m_address.size() >= sizeof(sockaddr_un::sun_path)) return;
  m_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  // The watchdog is ours when no other process is named.
  const char* usec = std::getenv("WATCHDOG_USEC");
  const char* pid = std::getenv("WATCHDOG_PID");
  if (usec != nullptr && (pid == nullptr || std::strtol(pid, nullptr, 10) == getpid())) {
    m_watchdog = std::chrono::microseconds(std::strtoll(usec, nullptr, 10));
    if (m_watchdog.count() < 0) m_watchdog = {};
  }
}

ServiceNotifier::~ServiceNotifier() {
  if (m_fd >= 0) close(m_fd);
}

bool ServiceNotifier::Send(const std::string& message) {
  if (m_fd < 0) return false;
  sockaddr_un to{};
  to.sun_family = AF_UNIX;
  std::memcpy(to.sun_path, m_address.data(), m_address.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + m_address.size());
  // A manager that does not read must never hold the client up: a datagram
  // that cannot go at once is dropped.
  return sendto(m_fd, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                reinterpret_cast<const sockaddr*>(&to), length) == static_cast<ssize_t>(message.size());
}

void ServiceNotifier::Ready() {
  Send("READY=1");
  if (!Enabled() || m_watchdog.count() == 0) return;
  const auto half = std::chrono::duration_cast<Milliseconds>(m_watchdog / 2);
  m_watchdogTimer = LoopTimer(std::max(half, Milliseconds(1)), [this] { Send("WATCHDOG=1"); }, true);
  Send("WATCHDOG=1");
}

void ServiceNotifier::Status(const std::string& text) {
  std::string line = text;
  for (char& c : line) c = (c == '\r' || c == '\n') ? ' ' : c;
  if (!Enabled() || line == m_lastStatus) return;
  m_lastStatus = line;
  Send("STATUS=" + line);
}

}  // namespace pellan::client
