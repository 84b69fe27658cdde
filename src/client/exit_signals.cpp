#include "client/exit_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace pellan::client {

namespace {

volatile sig_atomic_t g_signalWriteFd = -1;

extern "C" void OnExitSignal(int signo) {
  const int savedErrno = errno;
  const unsigned char byte = static_cast<unsigned char>(signo);
  if (g_signalWriteFd >= 0) {
    const ssize_t ignored = write(g_signalWriteFd, &byte, 1);
    (void)ignored;
  }
  errno = savedErrno;
}

}  // namespace

ExitSignals::ExitSignals(std::function<void(int signo)> onSignal) : m_onSignal(std::move(onSignal)) {
  if (pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    m_pipe[0] = m_pipe[1] = -1;
    return;
  }
  g_signalWriteFd = m_pipe[1];
  m_watch = LoopWatch(m_pipe[0], kIoRead, [this](unsigned) { Drain(); });
  struct sigaction sa{};
  sa.sa_handler = OnExitSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  m_installed = sigaction(SIGTERM, &sa, &m_oldTerm) == 0 && sigaction(SIGINT, &sa, &m_oldInt) == 0;
}

ExitSignals::~ExitSignals() {
  if (m_pipe[1] >= 0) {
    sigaction(SIGTERM, &m_oldTerm, nullptr);
    sigaction(SIGINT, &m_oldInt, nullptr);
    g_signalWriteFd = -1;
  }
  m_watch.Reset();
  for (int fd : m_pipe) {
    if (fd >= 0) close(fd);
  }
}

void ExitSignals::Drain() {
  unsigned char buf[64];
  int last = 0;
  for (;;) {
    const ssize_t n = read(m_pipe[0], buf, sizeof buf);
    if (n > 0) {
      last = buf[n - 1];
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  if (last != 0 && m_onSignal) m_onSignal(last);
}

}  // namespace pellan::client
