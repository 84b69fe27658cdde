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
  bool help = false;
};

extern const char* const kUsage;

// The options of a command line (without the program name); nullopt with
// `error` for a bad one.
std::optional<ClientOptions> ParseClientOptions(const std::vector<std::string>& args, std::string* error);

// The whole program: returns only for --help, a bad command line (2) or a
// second copy (0); otherwise the exit routine ends the process.
int RunSyncClient(int argc, char** argv);

}  // namespace pellan::client
