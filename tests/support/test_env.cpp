#include "support/test_env.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace pellan::test {

ScopedLoop::ScopedLoop(bool virtualTime, Duration realGrace) {
  if (virtualTime) {
    m_clock = std::make_unique<TestClock>(realGrace);
    SetCurrentClock(m_clock.get());
  }
  SetCurrentLoop(&m_loop);
}

ScopedLoop::~ScopedLoop() {
  SetCurrentLoop(nullptr);
  if (m_clock) SetCurrentClock(nullptr);
}

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "pellan-test-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_path = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

bool WriteWholeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace pellan::test
