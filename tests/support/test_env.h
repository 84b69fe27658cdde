// Helpers every test uses: a private event loop and clock installed as the
// process's current ones for the length of a test, and a scratch folder.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/poll_event_loop.h"

namespace pellan::test {

// Installs a fresh event loop and, optionally, a test clock; restores the
// previous ones on destruction. The loop is the poll backend, or the Qt one
// when the environment says PELLAN_TEST_LOOP=qt (the same tests run on both).
class ScopedLoop {
 public:
  // With `virtualTime` the loop runs on a TestClock that jumps to the next
  // deadline whenever nothing is ready (after really waiting `realGrace`).
  explicit ScopedLoop(bool virtualTime = false, Duration realGrace = Duration::zero());
  ~ScopedLoop();
  ScopedLoop(const ScopedLoop&) = delete;
  ScopedLoop& operator=(const ScopedLoop&) = delete;

  EventLoop& Loop() { return *m_loop; }
  TestClock* Clock() { return m_clock.get(); }  // nullptr on real time

 private:
  std::unique_ptr<TestClock> m_clock;
  std::unique_ptr<EventLoop> m_loop;
};

// A folder under /tmp removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return m_path; }
  std::string File(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

// Sets (nullptr: unsets) one environment variable for a scope and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : m_name(name) {
    if (const char* old = getenv(name)) m_old = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { m_old ? setenv(m_name.c_str(), m_old->c_str(), 1) : unsetenv(m_name.c_str()); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string m_name;
  std::optional<std::string> m_old;
};

// Writes `content` to `path` (created or truncated); false on failure.
bool WriteWholeFile(const std::string& path, const std::string& content);
inline bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }
// The whole file, or "" when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// Every regular file below `root` by its relative path, and every folder as
// its relative path + "/" (mapped to ""), so that empty folders count too.
using Tree = std::map<std::string, std::string>;
Tree ReadTree(const std::string& root);

}  // namespace pellan::test
