// A built program (pellan-sync, tolvarftp) run as a child process for
// end-to-end tests: stdout and stderr go to files, or stderr to a pseudo
// terminal read as the program writes; it is killed and reaped at the
// latest when the test lets it go. Also the helpers and matchers the
// end-to-end tests share.
#pragma once

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>

#include "support/test_env.h"

extern char** environ;

namespace pellan::client {

using namespace std::chrono_literals;
using pellan::test::ReadTree;
using pellan::test::ReadWholeFile;
using pellan::test::TempDir;
using pellan::test::Tree;
using pellan::test::WriteWholeFile;
using ::testing::AllOf;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

using pellan::test::Exists;

// Polls `done` every 20 ms for at most `timeout` (real time: another
// process is working).
inline bool PollUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

class ChildProcess {
 public:
  // `args[0]` names a program of the build, or is an absolute path; `env` (NAME=value) replaces
  // those variables of this process's environment, which is passed on less
  // LC_* and any tolvarftp password. The output goes to `logBase`.stdout
  // and .stderr.
  ChildProcess(std::vector<std::string> args, std::vector<std::string> env, const std::string& logBase,
               bool terminal = false)
      : m_out(logBase + ".stdout"), m_err(logBase + ".stderr") {
    if (args[0][0] != '/') args[0] = std::string(PELLAN_BINARY_DIR) + "/" + args[0];
    const size_t given = env.size();
    for (char** e = environ; *e; ++e) {
      const std::string v = *e;
      bool replaced = v.rfind("LC_", 0) == 0 || v.rfind("TOLVARFTP_PASSWORD=", 0) == 0;
      for (size_t i = 0; i < given; ++i) replaced |= v.rfind(env[i].substr(0, env[i].find('=') + 1), 0) == 0;
      if (!replaced) env.push_back(v);
    }
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    for (auto& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int slave = -1;
    winsize ws{24, 100, 0, 0};
    if (terminal && openpty(&m_terminal, &slave, nullptr, nullptr, &ws) == 0) {
      fcntl(m_terminal, F_SETFD, FD_CLOEXEC);
      fcntl(m_terminal, F_SETFL, O_NONBLOCK);
      posix_spawn_file_actions_adddup2(&actions, slave, 2);
      posix_spawn_file_actions_addclose(&actions, slave);
    } else {
      posix_spawn_file_actions_addopen(&actions, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    if (posix_spawn(&m_pid, args[0].c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (slave >= 0) close(slave);
  }
  ~ChildProcess() {
    if (m_pid > 0 && !m_status) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
    if (m_terminal >= 0) close(m_terminal);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void Signal(int signo) const { kill(m_pid, signo); }
  // True once the process has ended (reaped).
  bool Ended() {
    int status = 0;
    char buf[4096];
    for (ssize_t n; m_terminal >= 0 && (n = read(m_terminal, buf, sizeof buf)) > 0;) m_terminalText.append(buf, n);
    if (!m_status && m_pid > 0 && waitpid(m_pid, &status, WNOHANG) == m_pid) m_status = status;
    return m_status.has_value();
  }
  bool WaitEnd(std::chrono::milliseconds timeout) { return PollUntil([this] { return Ended(); }, timeout); }
  // The exit status of a process that exited normally, -1 otherwise.
  int ExitStatus() const { return m_status && WIFEXITED(*m_status) ? WEXITSTATUS(*m_status) : -1; }
  std::string Out() const { return ReadWholeFile(m_out); }
  std::string Err() {
    Ended();
    return m_terminal >= 0 ? m_terminalText : ReadWholeFile(m_err);
  }

 private:
  pid_t m_pid = -1;
  int m_terminal = -1;
  std::optional<int> m_status;
  std::string m_out, m_err, m_terminalText;
};

struct ToolRun {
  int status = -1;  // exit status; -1 when killed after the time limit or not started
  std::string out, err;
};

// tolvarftp with `args`, waited for at most two minutes.
inline ToolRun RunTool(std::vector<std::string> args, const std::vector<std::string>& env = {},
                       bool terminal = false) {
  pellan::test::TempDir logs;
  args.insert(args.begin(), "tolvarftp");
  ChildProcess tool(args, env, logs.File("run"), terminal);
  const bool ended = tool.WaitEnd(120s);
  return {ended ? tool.ExitStatus() : -1, tool.Out(), tool.Err()};
}

}  // namespace pellan::client
