// Runs the built tolvarftp as a child process, with its output captured and
// every wait bounded.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace pellan::test {

struct ToolRun {
  int status = -1;  // exit status; -1 when killed after the time limit or not started
  std::string out, err;
};

// `env` ("NAME=value") is added to this process's environment, less any
// password variable of its own; stderr goes to a pseudo terminal instead of
// a pipe when `terminal` is set.
inline ToolRun RunTool(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                       bool terminal = false, std::chrono::seconds limit = std::chrono::seconds(120)) {
  std::vector<std::string> argStore{PELLAN_BINARY_DIR "/tolvarftp"};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e) {
    if (std::string(*e).rfind("TOLVARFTP_PASSWORD=", 0) != 0) envStore.emplace_back(*e);
  }
  envStore.insert(envStore.end(), env.begin(), env.end());
  std::vector<char*> argv, envp;
  for (auto& a : argStore) argv.push_back(a.data());
  for (auto& e : envStore) envp.push_back(e.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);

  ToolRun result;
  int outPipe[2], errPipe[2] = {-1, -1}, master = -1, slave = -1;
  if (pipe2(outPipe, O_CLOEXEC) != 0) return result;
  if (terminal) {
    winsize ws{};
    ws.ws_col = 100;
    ws.ws_row = 24;
    if (openpty(&master, &slave, nullptr, nullptr, &ws) != 0) return result;
  } else if (pipe2(errPipe, O_CLOEXEC) != 0) {
    return result;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(outPipe[1], 1);
    dup2(terminal ? slave : errPipe[1], 2);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(terminal ? slave : errPipe[1]);
  const int errRead = terminal ? master : errPipe[0];

  const auto deadline = std::chrono::steady_clock::now() + limit;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errRead, POLLIN, 0}};
  int open = 2;
  while (open > 0 && std::chrono::steady_clock::now() < deadline) {
    if (poll(fds, 2, 1000) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[4096];
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {  // a pty reports EIO once the program is gone
        fds[i].fd = -1;
        --open;
      }
    }
  }
  if (open > 0) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  close(outPipe[0]);
  close(errRead);
  if (open == 0 && WIFEXITED(status)) result.status = WEXITSTATUS(status);
  return result;
}

}  // namespace pellan::test
