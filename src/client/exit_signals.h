// SIGTERM and SIGINT (a service manager's stop, Ctrl-C) turned into calls on
// the event loop's thread: the handler only writes the signal's number into
// a pipe, and a loop watch on the pipe calls `onSignal` with it. So a stop
// takes the client's ordinary exit path, also while the loop runs inside a
// nested wait. One instance at a time; the old dispositions come back when
// it goes.
#pragma once

#include <signal.h>

#include <functional>

#include "platform/event_loop.h"

namespace pellan::client {

class ExitSignals {
 public:
  explicit ExitSignals(std::function<void(int signo)> onSignal);
  ~ExitSignals();
  ExitSignals(const ExitSignals&) = delete;
  ExitSignals& operator=(const ExitSignals&) = delete;

  // False when the pipe or the handlers could not be set up.
  bool Installed() const { return m_installed; }

 private:
  void Drain();

  std::function<void(int)> m_onSignal;
  int m_pipe[2] = {-1, -1};
  LoopWatch m_watch;
  struct sigaction m_oldTerm{};
  struct sigaction m_oldInt{};
  bool m_installed = false;
};

}  // namespace pellan::client
