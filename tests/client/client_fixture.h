// A main window in a scratch program folder, on a private loop and test
// clock, with a recording front end; the program's end is a ProgramEnd
// exception that RunUntil catches, so a test sees exactly where the client
// would have ended.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client/main_window.h"
#include "net/socket_support.h"
#include "support/error_record.h"
#include "support/fake_ftp_server.h"
#include "support/recording_front_end.h"
#include "support/scratch_state_home.h"
#include "support/test_env.h"

namespace pellan::client::test {

using namespace std::chrono_literals;
using pellan::test::FakeFtpServer;
using pellan::test::ReadWholeFile;
using pellan::test::WriteWholeFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::Not;

class ClientTest : public ::testing::Test {
 protected:
  // `grace`: how long the loop really waits before virtual time jumps.
  explicit ClientTest(Duration grace = 1ms) : m_loop(true, grace) {
    g_blnConnecting = false;
    SharedErrorRecord().Clear();
    mkdir(DataFolder().c_str(), 0755);
  }
  ~ClientTest() override {
    m_form.reset();
    g_blnConnecting = false;
    SharedErrorRecord().Clear();
  }

  std::string Home() const { return m_home.Path(); }
  std::string File(const std::string& name) const { return m_home.File(name); }
  std::string Read(const std::string& name) const { return ReadWholeFile(File(name)); }
  bool Exists(const std::string& name) const { return pellan::test::Exists(File(name)); }
  void Put(const std::string& name, const std::string& content) { ASSERT_TRUE(WriteWholeFile(File(name), content)); }
  std::string DataFolder() const { return m_home.File("data"); }
  // A path file for the scripted server's port.
  void WriteSite(uint16_t port) {
    Put("maoph.txt", DataFolder() + "\r\n127.0.0.1\r\n" + std::to_string(port) + "\r\nuser\r\npass\r\n");
  }

  frmTLVFTP& Form(ClientSettings settings = {}) {
    if (!m_form) {
      if (settings.folder.empty()) settings.folder = Home();
      m_form = std::make_unique<frmTLVFTP>(settings);
      m_form->EndProgram = [](int status) { throw ProgramEnd{status}; };
      // Tests of the session and its timers run quiet passes; tests of the
      // folder pass clear this to run the real one.
      if (m_quietPasses) m_form->FolderPass = [] {};
    }
    return *m_form;
  }

  // Loads the window with a site at `port` and lets the automatic login run
  // until the caption is `caption`.
  bool StartAndWaitFor(uint16_t port, const std::string& caption, ClientSettings settings = {}) {
    WriteSite(port);
    if (!Form(settings).Form_Load()) return false;
    return RunUntil([&] { return Form().LoginCaption() == caption; }, 60s);
  }
  // How the program ended: "status|clo.txt|tray icon".
  std::string End() {
    return (m_ended ? std::to_string(*m_ended) : "running") + "|" + Read("clo.txt") +
           (Form().Model().TrayIcon() ? "|tray" : "|no tray");
  }

  // Runs the loop until `done` holds or `timeout` passes; catches the
  // program's end (see End()).
  bool RunUntil(const std::function<bool()>& done, Duration timeout) {
    try {
      return m_loop.Loop().WaitFor(done, timeout);
    } catch (const ProgramEnd& e) {
      m_ended = e.status;
      return false;
    }
  }
  // The virtual time since the test began.
  Duration Elapsed() { return m_loop.Clock()->Elapsed(); }

  pellan::test::ScopedLoop m_loop;
  pellan::test::TempDir m_home;
  pellan::test::RecordingFrontEnd m_frontEnd;
  std::unique_ptr<frmTLVFTP> m_form;
  bool m_quietPasses = true;
  std::optional<int> m_ended;
};

}  // namespace pellan::client::test
