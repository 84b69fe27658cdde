// The front end of a client without a display: each new status message of
// the window (lblState) becomes one line on stdout, message boxes one line
// on stderr. It never blocks: a line that the output cannot take at once
// (a full pipe nobody reads) is dropped, since an unattended program must
// never stop on its own output.
#pragma once

#include <string>

#include "client/window_model.h"
#include "platform/front_end.h"

namespace pellan::client {

// Writes `line` and a line end to `fd` in one write if the descriptor can
// take it at once, else not at all (a line longer than PIPE_BUF is cut
// between characters).
void WriteLineNow(int fd, std::string line);

// The message of a status text "[time] message" (the whole text when it has
// no time in front).
std::string StatusMessage(const std::string& statusText);

class HeadlessClientFrontEnd : public HeadlessFrontEnd {
 public:
  // `statusFd` receives the status lines (stdout unless a test names another).
  explicit HeadlessClientFrontEnd(int statusFd = 1) : m_statusFd(statusFd) {}

  // Starts writing `model`'s status lines.
  void Attach(WindowModel& model);

  // One status text as its line: line ends inside it become blanks. A
  // status that repeats the last one (only its time differs, as the pass
  // timer's "running" does five times a second) gives no line, nor does one
  // that repeats the one before it (two messages taking turns).
  void StatusChanged(const std::string& statusText);

 private:
  int m_statusFd;
  std::string m_lastMessage, m_beforeLast;
  bool m_any = false;
};

}  // namespace pellan::client
