// pellan-sync --check: the configuration tried end to end, with nothing
// moved. It reads the path file, logs in, makes sure the remote folder is
// there (creating it as an upload would), lists it, and says what it found.
#include <dirent.h>

#include <iostream>

#include "client/client_files.h"
#include "client/companion_files.h"
#include "client/main_window.h"
#include "client/path_file.h"
#include "client/startup.h"
#include "ftp/ftp_library.h"
#include "support/encrypt.h"

namespace pellan::client {

namespace {

int Failed(const std::string& what) {
  std::cerr << "pellan-sync: " << what << '\n';
  return 1;
}

// Regular files and links of `folder` whose names start with `prefix`.
size_t LocalCount(const std::string& folder, const std::string& prefix) {
  size_t count = 0;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* e = readdir(dir)) count += std::string(e->d_name).rfind(prefix, 0) == 0;
    closedir(dir);
  }
  return count;
}

}  // namespace

int CheckConfiguration(const std::string& programFolder, const ClientSettings& settings) {
  const std::string pathFile = programFolder + "/" + kPathFile;
  if (const auto problem = PathFileProblem(pathFile)) return Failed(*problem);
  const PathFileFields fields = ReadPathFile(pathFile);
  const std::string host = TrimBlanks(*fields.serverName);
  const long port = PortNumber(fields.port.value_or(kDefaultPort));
  const std::string user = fields.userName.value_or("");
  std::cout << "Path file:     " << pathFile << "\nLocal folder:  " << *fields.localPath << " ("
            << LocalCount(*fields.localPath, "T") << " T… file(s) waiting to go up)\nServer:        " << host
            << ":" << port << " as " << (user.empty() ? "(no user)" : user) << std::endl;

  FtpLibrary ftp;
  ftp.SetCodePage(settings.codePage);
  ftp.SetTlsMode(settings.tls);
  ftp.SetTlsCaFile(settings.tlsCa);
  ftp.SetTlsPin(settings.tlsPin);
  ftp.SetRaiseErrorEvent(false);
  const CEncrypt cipher;
  ftp.SetServerName(cipher.Base64Encrypt(host));
  ftp.SetRemotePort(port);
  ftp.SetUserName(cipher.Base64Encrypt(user));
  ftp.SetPassWord(cipher.Base64Encrypt(fields.passWord.value_or("")));
  if (!ftp.Connect()) return Failed("login failed: " + ftp.ErrorInfo());
  std::cout << "Login:         ok" << (settings.tls ? " over " + ftp.TlsInfo() : std::string()) << std::endl;

  const std::string remote = GetFolderName(NormalizePath(*fields.localPath) + "/");
  if (remote.empty()) return Failed("the local folder has no name to use on the server");
  if (!ftp.ExistDirectory(remote)) {
    if (!ftp.CreateDirectory(remote, false)) return Failed("remote folder " + remote + " not created: " + ftp.ErrorInfo());
    std::cout << "Remote folder: " << remote << " (created)" << std::endl;
  } else {
    std::cout << "Remote folder: " << remote << std::endl;
  }
  const auto list = ftp.GetFtpDirectoryInfo(remote + "/");
  if (!list && ftp.ErrorNumber() != 0) return Failed("remote folder " + remote + " not listed: " + ftp.ErrorInfo());
  size_t replies = 0, leftovers = 0, entries = list ? list->Count() : 0;
  for (size_t k = 1; k <= entries; ++k) {
    const std::string name = list->Item(k)->FileName();
    replies += name.rfind("R", 0) == 0 && !list->Item(k)->IsDirectory();
    leftovers += name.rfind("_T", 0) == 0 && name.size() > 7 && name.compare(name.size() - 5, 5, ".part") == 0;
  }
  std::cout << "Listing:       " << entries << " entr" << (entries == 1 ? "y" : "ies") << ", " << replies
            << " R… file(s) waiting to come down, " << leftovers << " leftover upload(s)" << std::endl;
  ftp.CloseConnection();
  return 0;
}

}  // namespace pellan::client
