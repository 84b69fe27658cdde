#include "client/headless_front_end.h"

#include <limits.h>
#include <poll.h>
#include <unistd.h>

namespace pellan::client {

void HeadlessClientFrontEnd::Attach(WindowModel& model) {
  model.Observe([this, &model](const std::string& what) {
    if (what == "lblState") StatusChanged(model.Text("lblState"));
  });
}

void HeadlessClientFrontEnd::StatusChanged(const std::string& statusText) {
  // "[time] message": the time alone changing is no news.
  const auto mark = statusText.find("] ");
  const std::string message =
      (statusText.rfind('[', 0) == 0 && mark != std::string::npos) ? statusText.substr(mark + 2) : statusText;
  if (m_any && message == m_lastMessage) return;
  m_any = true;
  m_lastMessage = message;

  std::string line;
  line.reserve(statusText.size() + 1);
  for (char c : statusText) line += (c == '\r' || c == '\n') ? ' ' : c;
  WriteLineNow(m_statusFd, line);
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
