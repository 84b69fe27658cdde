// A control set up for tests against the scripted server on 127.0.0.1:
// process-wide flags and the error record reset, English messages, the
// server name, port, user "user" and password "pass" handed over enciphered
// as a host does.
#pragma once

#include <cstdint>
#include <memory>

#include "ftp/ftp_library.h"
#include "net/socket_support.h"
#include "support/encrypt.h"
#include "support/error_record.h"

namespace pellan::test {

inline std::unique_ptr<FtpLibrary> ScriptedControl(uint16_t port) {
  const CEncrypt cipher;
  g_blnConnecting = false;
  SharedErrorRecord().Clear();
  auto ftp = std::make_unique<FtpLibrary>();
  ftp->SetLanguage(0);
  ftp->SetServerName(cipher.EncryptSiteInfo("127.0.0.1", "base64"));
  ftp->SetRemotePort(port);
  ftp->SetUserName(cipher.EncryptSiteInfo("user", "base64"));
  ftp->SetPassWord(cipher.EncryptSiteInfo("pass", "base64"));
  return ftp;
}

}  // namespace pellan::test
