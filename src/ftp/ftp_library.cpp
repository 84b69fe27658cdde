// FtpLibrary: the application's title and version, and the end of a control.
#include "ftp/ftp_library.h"

namespace pellan {

namespace {

constexpr int kVersionMajor = 0;
constexpr int kVersionMinor = 1;
constexpr int kVersionRevision = 0;

std::string g_applicationTitle = "TolvarFtp";

}  // namespace

FtpLibrary::~FtpLibrary() {
  // Every layer is still whole here: a session still open quits, a transfer
  // under way is cut first.
  OnTransfer = nullptr;
  Shutdown();
}

std::string FtpLibrary::Title() const { return g_applicationTitle; }

void FtpLibrary::SetTitle(const std::string& title) { g_applicationTitle = title; }

std::string FtpLibrary::Version() const {
  return std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + ".0." + std::to_string(kVersionRevision);
}

}  // namespace pellan
