// What the engine tests against the scripted server share: a control logged
// in to a FakeFtpServer on the test's loop (virtual time), listing lines and
// PORT lines read back.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ftp/ftp_library.h"
#include "net/socket_support.h"
#include "support/error_record.h"
#include "support/fake_ftp_server.h"
#include "support/scratch_state_home.h"
#include "support/test_env.h"
#include "transfer_helpers.h"

namespace pellan::test {

// One UNIX listing line: 'd' a folder, '-' a file.
inline std::string Line(char kind, long size, const std::string& name) {
  char head[96];
  std::snprintf(head, sizeof head, "%crw-r--r--    1 1000     1000     %10ld Dec 06 16:25 ", kind, size);
  return head + name + "\r\n";
}

// The port of a "PORT 127,0,0,1,p1,p2" line; -1 when it is none.
inline int PortOf(const std::string& line) {
  unsigned p1 = 0, p2 = 0;
  int end = 0;
  if (std::sscanf(line.c_str(), "PORT 127,0,0,1,%u,%u%n", &p1, &p2, &end) != 2) return -1;
  if (static_cast<size_t>(end) != line.size() || p1 > 255 || p2 > 255) return -1;
  return static_cast<int>(p1 * 256 + p2);
}

class ScriptedSession : public ::testing::Test {
 protected:
  ScriptedSession() : m_loop(true, std::chrono::milliseconds(1)) {
    m_ftp = test::ScriptedControl(m_server.Port());
    m_ftp->SetKeepConnSecond(0);
    m_ftp->OnStateChange = [this](long s) { m_states.push_back(s); };
  }
  ~ScriptedSession() override {
    m_ftp.reset();
    g_blnConnecting = false;
  }
  bool LoginOk() {
    m_server.Login();
    const bool ok = m_ftp->Connect();
    m_states.clear();
    return ok;
  }
  // The commands after the login.
  std::vector<std::string> Sent() const {
    const auto& t = m_server.Transcript();
    return std::vector<std::string>(t.begin() + std::min<size_t>(2, t.size()), t.end());
  }
  // The control is free again: the next operation runs instead of being
  // refused as unfinished.
  void ExpectNextOperationRuns() {
    EXPECT_EQ(m_ftp->Operation(), kOpNone);
    EXPECT_FALSE(m_ftp->Busy());
    m_server.Expect("PWD", "257 \"/next\" is cwd");
    EXPECT_EQ(m_ftp->GetCurrentDirectory(), "/next");
    EXPECT_EQ(m_ftp->ErrorNumber(), 0);
  }

  ScopedLoop m_loop;
  FakeFtpServer m_server;
  std::unique_ptr<FtpLibrary> m_ftp;
  std::vector<long> m_states;
};

}  // namespace pellan::test
