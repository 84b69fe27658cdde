#include "client/headless_front_end.h"

#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <utility>

namespace pellan::client {

void HeadlessClientFrontEnd::Attach(WindowModel& model) {
  model.Observe([this, &model](const std::string& what) {
    if (what == "lblState") StatusChanged(model.Text("lblState"));
  });
}

void HeadlessClientFrontEnd::StatusChanged(const std::string& statusText) {
  // The time alone changing is no news.
  const std::string message = StatusMessage(statusText);
  if (m_any && message == m_lastMessage) return;
  // Two messages taking turns (a pass's "nothing to fetch" and "running",
  // five times a second) were each said once already.
  if (m_any && message == m_beforeLast) {
    std::swap(m_lastMessage, m_beforeLast);
    return;
  }
  m_any = true;
  m_beforeLast = std::exchange(m_lastMessage, message);

  std::string line;
  line.reserve(statusText.size() + 1);
  for (char c : statusText) line += (c == '\r' || c == '\n') ? ' ' : c;
  WriteLineNow(m_statusFd, line);
}

std::string StatusMessage(const std::string& statusText) {
  const auto mark = statusText.find("] ");
  const bool timed = statusText.rfind('[', 0) == 0 && mark != std::string::npos;
  return timed ? statusText.substr(mark + 2) : statusText;
}

void WriteLineNow(int fd, std::string line) {
  line += '\n';
  if (line.size() > PIPE_BUF) {
    // One write of at most PIPE_BUF bytes, cut between characters.
    size_t cut = PIPE_BUF - 1;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    line.resize(cut);
    line += '\n';
  }
  pollfd p{fd, POLLOUT, 0};
  if (poll(&p, 1, 0) == 1 && (p.revents & POLLOUT)) {
    const ssize_t ignored = write(fd, line.data(), line.size());
    (void)ignored;
  }
}

}  // namespace pellan::client
