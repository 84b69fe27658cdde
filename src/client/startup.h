// The sync client's command line and the program around the main window:
// options, the program folder, the code page, the front end, the exit
// signals, and the event loop that runs until the exit routine ends the
// process.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pellan::client {

struct ClientOptions {
  bool log = false;          // "log" among the arguments
  std::string home;          // --home DIR: the program folder
  std::string codePage = "UTF-8";
  bool headless = false;     // --headless
  int retryLoginSeconds = 0; // --retry-login SECONDS
  bool directUploads = false; // --direct-uploads
  double rateLimit = 0;       // --limit-rate RATE, in bytes a second
  long tls = 0;               // --tls: 0 off, 1 require, 2 implicit
  std::string tlsCa, tlsPin;  // --tls-ca FILE, --tls-pin sha256:…
  bool help = false;
  bool version = false;       // --version
  bool check = false;         // --check: try the configuration, move nothing
  bool once = false;          // --once: one pass, then the end
};

extern const char* const kUsage;

class frmTLVFTP;

// A front end with a window, which the program offers when it was built
// with one. The client's logic is the same with or without it.
class DesktopHost {
 public:
  virtual ~DesktopHost() = default;
  // Whether a window can be shown here (a display to draw on).
  virtual bool Available() = 0;
  // Before the main window exists: the toolkit, its event loop as the
  // process's loop.
  virtual void Prepare(int& argc, char** argv) = 0;
  // The main window exists: draw it, put up the tray icon, take over the
  // message boxes and dialogs. The process's loop (the toolkit's, since
  // Prepare) then runs as it runs without a window.
  virtual void Attach(frmTLVFTP& form) = 0;
};

// The options of a command line (without the program name); nullopt with
// `error` for a bad one.
std::optional<ClientOptions> ParseClientOptions(const std::vector<std::string>& args, std::string* error);

// --check: the path file, the login and the remote folder tried and
// described on stdout; 0 when all of it works, else 1 with the error on
// stderr.
struct ClientSettings;
int CheckConfiguration(const std::string& programFolder, const ClientSettings& settings);

// Exit status of a headless start whose path file or local folder is unusable.
inline constexpr int kExitConfig = 78;

// The whole program: returns only for --help and --version, a bad command
// line (2), a second copy (0) or, without a window, an unusable path file
// (kExitConfig); otherwise the exit routine ends the process. With a
// desktop that is available (and no --headless) the client has its window.
int RunSyncClient(int argc, char** argv, DesktopHost* desktop = nullptr);

}  // namespace pellan::client
