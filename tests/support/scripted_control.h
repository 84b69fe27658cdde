// A control set up for tests against the scripted server on 127.0.0.1:
// process-wide flags and the error record reset, English messages, the
// server name, port, user "user" and password "pass" handed over enciphered
// as a host does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ftp/ftp_library.h"
#include "net/socket_support.h"
#include "support/encrypt.h"
#include "support/error_record.h"

namespace pellan::test {

// A site value enciphered as a host stores it.
inline std::string Enc(const std::string& s) { return CEncrypt().EncryptSiteInfo(s, "base64"); }

inline std::unique_ptr<FtpLibrary> ScriptedControl(uint16_t port) {
  g_blnConnecting = false;
  SharedErrorRecord().Clear();
  auto ftp = std::make_unique<FtpLibrary>();
  ftp->SetLanguage(0);
  ftp->SetServerName(Enc("127.0.0.1"));
  ftp->SetRemotePort(port);
  ftp->SetUserName(Enc("user"));
  ftp->SetPassWord(Enc("pass"));
  return ftp;
}

}  // namespace pellan::test
