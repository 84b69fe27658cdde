// What the engine tests share: a control for a real server, the names of a
// listing's records, file contents that show any lost, doubled or shifted
// byte, a folder tree read back as one value to compare, and a recorder of
// the control's events.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ftp/ftp_library.h"
#include "support/encrypt.h"
#include "support/ftp_servers.h"
#include "support/scripted_control.h"
#include "support/test_env.h"

namespace pellan::test {

// A control logged in as the real server's test user (English messages).
inline std::unique_ptr<FtpLibrary> RealControl(const RealFtpServer& server, bool passive = true) {
  auto ftp = ScriptedControl(server.Port());
  ftp->SetUserName(Enc(server.User()));
  ftp->SetPassWord(Enc(server.Password()));
  ftp->SetPassiveMode(passive);
  return ftp;
}

// One download or upload job.
inline bool Download(FtpLibrary& ftp, const std::string& remote, const std::string& local,
                     bool createFolder = true) {
  ftp.SetRemotePath(remote);
  ftp.SetLocalPath(local);
  return ftp.DownLoad(createFolder);
}
inline bool Upload(FtpLibrary& ftp, const std::string& local, const std::string& remote,
                   bool createFolder = true) {
  ftp.SetLocalPath(local);
  ftp.SetRemotePath(remote);
  return ftp.UpLoad(createFolder);
}

inline std::vector<std::string> Names(const CFtpFiles* files) {
  std::vector<std::string> out;
  if (files) {
    for (const CFtpFile& f : *files) out.push_back(f.FileName());
  }
  return out;
}

// `size` bytes of every value 0..255 in a sequence fixed by `seed`: CR, LF,
// NUL and high bytes all occur, so a text-mode rewrite or a cut shows.
inline std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(rng() & 0xff);
  return out;
}

// One progress event as the host saw it.
struct ProgressSample {
  long percent;
  double transferSize;
  long speed;
  long leftTime;
};

// Records what a control raises; the transfer tests assert on it.
struct EventRecorder {
  std::vector<ProgressSample> progress;
  std::vector<std::string> messages;  // "type:text"
  int errors = 0;

  void Attach(FtpLibrary& ftp) {
    ftp.OnTransfer = [this, &ftp] {
      progress.push_back({ftp.Percent(), ftp.TransferSize(), ftp.Speed(), ftp.LeftTime()});
    };
    ftp.ServerMessage = [this](const std::string& m, long type) { messages.push_back(std::to_string(type) + ":" + m); };
    ftp.OnError = [this] { ++errors; };
  }
  // How many commands the control sent that start with `prefix` ("RETR", "REST 3000").
  size_t CountSent(const std::string& prefix) const {
    size_t n = 0;
    for (const std::string& m : messages) n += m.rfind("0:" + prefix, 0) == 0;
    return n;
  }
};

}  // namespace pellan::test
