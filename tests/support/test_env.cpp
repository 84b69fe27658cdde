#include "support/test_env.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifdef PELLAN_WITH_QT
#include <QCoreApplication>

#include "platform/qt_event_loop.h"
#endif

namespace pellan::test {

// The poll backend, or the Qt one when PELLAN_TEST_LOOP=qt.
ScopedLoop::ScopedLoop(bool virtualTime, Duration realGrace) {
  if (virtualTime) SetCurrentClock((m_clock = std::make_unique<TestClock>(realGrace)).get());
  const char* chosen = getenv("PELLAN_TEST_LOOP");
  if (chosen == nullptr || std::string(chosen) != "qt") {
    m_loop = std::make_unique<PollEventLoop>();
  } else {
#ifdef PELLAN_WITH_QT
    static int argc = 1;
    static char name[] = "pellan-test";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) static QCoreApplication app(argc, argv);
    m_loop = std::make_unique<QtEventLoop>();
#else
    fputs("PELLAN_TEST_LOOP=qt, but this build has no Qt\n", stderr);
    abort();
#endif
  }
  SetCurrentLoop(m_loop.get());
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

Tree ReadTree(const std::string& root) {
  Tree tree;
  std::error_code ec;
  // Paths cut lexically: a program under test may delete an entry between
  // the listing and this look at it (relative() would throw for it).
  const size_t cut = (std::filesystem::path(root) / "").string().size();
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    const std::string rel = it->path().string().substr(cut);
    if (it->is_directory(ec)) {
      tree[rel + "/"] = "";
    } else if (it->is_regular_file(ec)) {
      tree[rel] = ReadWholeFile(it->path().string());
    }
  }
  return tree;
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
