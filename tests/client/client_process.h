// The pellan-sync program run as a child process in a scratch program
// folder, for end-to-end tests: its stdout and stderr go to files there, and
// it is killed and reaped at the latest when the test lets it go.
#pragma once

#include <fcntl.h>
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

#include "support/test_env.h"

extern char** environ;

namespace pellan::client {

using namespace std::chrono_literals;
using pellan::test::ReadWholeFile;

inline bool Exists(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0;
}

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

// One run of the program; killed and reaped at the latest when this goes.
class ClientProcess {
 public:
  // `desktop`: without --headless, so that a display in the environment
  // gives the program its window; `extraEnv` adds NAME=VALUE entries and
  // `extraArgs` arguments.
  ClientProcess(const std::string& home, const std::string& stateHome, const std::string& tag, bool desktop = false,
                const std::vector<std::string>& extraEnv = {}, const std::vector<std::string>& extraArgs = {}) {
    m_out = home + "/" + tag + ".stdout";
    m_err = home + "/" + tag + ".stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::string program = std::string(PELLAN_BINARY_DIR) + "/pellan-sync";
    std::vector<std::string> args = {program, "log", "--home", home};
    if (!desktop) args.push_back("--headless");
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = {"XDG_STATE_HOME=" + stateHome, "LANG=C"};
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    for (char** e = environ; *e; ++e) {
      const std::string v = *e;
      if (v.rfind("XDG_STATE_HOME=", 0) != 0 && v.rfind("LANG=", 0) != 0 && v.rfind("LC_", 0) != 0) env.push_back(v);
    }
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~ClientProcess() {
    if (m_pid > 0 && !m_status) {
      kill(m_pid, SIGKILL);
      int status = 0;
      waitpid(m_pid, &status, 0);
    }
  }
  ClientProcess(const ClientProcess&) = delete;
  ClientProcess& operator=(const ClientProcess&) = delete;

  bool Started() const { return m_pid > 0; }
  void Signal(int signo) const { kill(m_pid, signo); }
  // True once the process has ended (reaped).
  bool Ended() {
    if (m_status) return true;
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) m_status = status;
    return m_status.has_value();
  }
  bool WaitEnd(std::chrono::milliseconds timeout) { return PollUntil([this] { return Ended(); }, timeout); }
  // The exit status of a process that exited normally, -1 otherwise.
  int ExitStatus() const { return m_status && WIFEXITED(*m_status) ? WEXITSTATUS(*m_status) : -1; }
  std::string Out() const { return ReadWholeFile(m_out); }
  std::string Err() const { return ReadWholeFile(m_err); }

 private:
  pid_t m_pid = -1;
  std::optional<int> m_status;
  std::string m_out, m_err;
};

}  // namespace pellan::client
