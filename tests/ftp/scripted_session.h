// The frame of the engine tests against the scripted server: a control on
// virtual time talking to a FakeFtpServer on the test's loop, its events
// recorded, a scratch folder for the local side, and the exchanges of an
// ordinary listing, download and upload as script pieces.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ftp/ftp_library.h"
#include "net/socket_support.h"
#include "support/error_record.h"
#include "support/fake_ftp_server.h"
#include "support/scratch_state_home.h"
#include "support/scripted_control.h"
#include "support/test_env.h"
#include "transfer_helpers.h"

namespace pellan::test {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// One UNIX listing line: 'd' a folder, '-' a file.
inline std::string Line(char kind, long size, const std::string& name) {
  char head[96];
  std::snprintf(head, sizeof head, "%crw-r--r--    1 1000     1000     %10ld Dec 06 16:25 ", kind, size);
  return head + name + "\r\n";
}

class ScriptedSession : public ::testing::Test {
 protected:
  ScriptedSession() : m_loop(true, std::chrono::milliseconds(1)) {
    m_ftp = ScriptedControl(m_server.Port());
    m_ftp->SetKeepConnSecond(0);  // no keep-alive PWD in the transcripts
    m_events.Attach(*m_ftp);
    // A call that never ends fails here instead of hanging the test program
    // (virtual time jumps to this timer when nothing else is due).
    m_hang = LoopTimer(Milliseconds(600'000), [this] {
      if (m_ftp->Busy()) ADD_FAILURE() << "an operation ran for ten minutes", m_ftp->Abort();
    }, true);
  }
  ~ScriptedSession() override {
    m_ftp.reset();
    g_blnConnecting = false;
  }
  // Every test ends with its script run through (what it still had to
  // send, sent), and nothing else asked of the server.
  void TearDown() override {
    m_loop.Loop().RunFor(std::chrono::seconds(1));
    EXPECT_THAT(m_server.Failures(), ::testing::IsEmpty()) << "the scripted server";
  }
  // Logs in; what the login raised is forgotten.
  bool LoginOk() {
    m_server.Login();
    const bool ok = m_ftp->Connect();
    m_events = EventRecorder();  // the handlers stay attached to this member
    return ok;
  }
  // The control is free again: the next operation runs (PWD answered
  // "/next") instead of being refused as unfinished.
  void ExpectNextOperationRuns() {
    EXPECT_FALSE(m_ftp->Busy());
    m_server.Script("PWD>257 \"/next\" is cwd");
    EXPECT_EQ(m_ftp->GetCurrentDirectory(), "/next");
    EXPECT_EQ(m_ftp->ErrorNumber(), 0);
  }

  // The size asked before a download.
  FakeFtpServer& ExpectSize(const std::string& path, size_t size) {
    return m_server.Script("TYPE I>200 Type set to I.|SIZE " + path + ">213 " + std::to_string(size));
  }
  // TYPE, PASV and `command` answered `reply` (a transfer up to the
  // server's 150: the data and the end follow).
  FakeFtpServer& ExpectData(const std::string& command,
                            const std::string& reply = "150 Opening data connection.") {
    return m_server.Script("TYPE I>200 Type set.|PASV|" + command + ">" + reply);
  }
  Duration Elapsed() { return m_loop.Clock()->Elapsed(); }

  ScopedLoop m_loop;
  FakeFtpServer m_server;
  std::unique_ptr<FtpLibrary> m_ftp;
  EventRecorder m_events;
  TempDir m_local;
  LoopTimer m_hang;
};

}  // namespace pellan::test
