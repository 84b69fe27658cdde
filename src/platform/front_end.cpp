#include "platform/front_end.h"

#include <limits.h>
#include <poll.h>
#include <unistd.h>

namespace pellan {

namespace {
HeadlessFrontEnd g_headless;
FrontEnd* g_frontEnd = &g_headless;
}  // namespace

int HeadlessFrontEnd::MessageBox(const std::string& text, const std::string& caption, int) {
  // One line, whatever the text holds. An unattended program must never stop
  // here: when stderr (a pipe nobody reads, say) cannot take the line now, the
  // line is dropped; at most PIPE_BUF bytes go out, in one write.
  std::string line = caption.empty() ? std::string("message: ") : caption + ": ";
  for (char c : text) {
    if (c == '\r') continue;
    line += (c == '\n') ? ' ' : c;
  }
  line += '\n';
  if (line.size() > PIPE_BUF) {
    line.resize(PIPE_BUF - 1);
    line += '\n';
  }
  pollfd p{STDERR_FILENO, POLLOUT, 0};
  if (poll(&p, 1, 0) == 1 && (p.revents & POLLOUT)) {
    const ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
  }
  return kMbAnswerOk;
}

FrontEnd& CurrentFrontEnd() { return *g_frontEnd; }
void SetFrontEnd(FrontEnd* frontEnd) { g_frontEnd = frontEnd ? frontEnd : &g_headless; }

}  // namespace pellan
