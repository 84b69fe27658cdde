// The frame of the transfer tests against the scripted server: a control on
// virtual time logged in to the fake server, a scratch folder for the local
// side, and the exchanges of an ordinary download and upload as script
// pieces.
#pragma once

#include <memory>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ftp/ftp_library.h"
#include "net/socket_support.h"
#include "support/error_record.h"
#include "support/fake_ftp_server.h"
#include "support/scripted_control.h"
#include "support/test_env.h"
#include "transfer_helpers.h"

namespace pellan::test {

class FakeTransferTest : public ::testing::Test {
 protected:
  FakeTransferTest() : m_loop(true, std::chrono::milliseconds(1)) {
    m_ftp = ScriptedControl(m_server.Port());
    m_ftp->SetKeepConnSecond(0);  // no keep-alive PWD in the transcripts
    m_events.Attach(*m_ftp);
    m_server.Login();
  }
  ~FakeTransferTest() override {
    m_ftp.reset();
    g_blnConnecting = false;
  }

  bool Download(const std::string& remote, const std::string& local, bool createFolder = true) {
    m_ftp->SetRemotePath(remote);
    m_ftp->SetLocalPath(local);
    return m_ftp->DownLoad(createFolder);
  }
  bool Upload(const std::string& local, const std::string& remote, bool createFolder = true) {
    m_ftp->SetLocalPath(local);
    m_ftp->SetRemotePath(remote);
    return m_ftp->UpLoad(createFolder);
  }

  // The size asked before a download.
  FakeFtpServer& ExpectSize(const std::string& path, size_t size) {
    return m_server.Expect("TYPE I", "200 Type set to I.").Expect("SIZE " + path, "213 " + std::to_string(size));
  }
  // A download up to the server's 150; the data and the end follow.
  FakeFtpServer& ExpectRetr(const std::string& path, const char* type = "I") {
    return m_server.Expect(std::string("TYPE ") + type, "200 Type set.")
        .Expect("PASV")
        .Pasv()
        .Expect("RETR " + path, "150 Opening data connection.");
  }
  // An upload up to the server's 150; DataReceive and the end follow.
  FakeFtpServer& ExpectStor(const std::string& path) {
    return m_server.Expect("TYPE I", "200 Type set to I.")
        .Expect("PASV")
        .Pasv()
        .Expect("STOR " + path, "150 Ok to send data.");
  }
  Duration Elapsed() { return m_loop.Clock()->Elapsed(); }

  ScopedLoop m_loop;
  FakeFtpServer m_server;
  std::unique_ptr<FtpLibrary> m_ftp;
  EventRecorder m_events;
  TempDir m_local;
};

}  // namespace pellan::test
