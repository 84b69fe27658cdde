// Parsing of the tolvarftp command line: options, and the commands given
// with -c, each split into words as a POSIX shell splits them.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pellan::tool {

struct Options {
  std::string host;
  long port = 0;  // 0: not given (21, or 990 for implicit TLS)
  std::string user;
  std::string passwordFile;
  std::string password;  // the first line of passwordFile, read by ParseOptions
  long timeout = 30;
  long keepalive = 60;
  int language = -1;  // -1: the user's own
  std::string codePage = "UTF-8";
  bool verbose = false;
  bool active = false;  // PORT instead of PASV
  bool json = false;    // ls prints JSON
  // get and put
  bool overwrite = false;    // replace existing targets instead of resuming
  bool tempName = false;     // put stores under a temporary name, then renames
  long retries = 0;          // further attempts at a file that failed
  double maxSizeMb = 0;      // larger files are refused; 0: no limit
  double rateLimit = 0;      // bytes a second on the data connection; 0: no limit
  long tls = 0;              // --tls: 0 off, 1 require, 2 implicit
  std::string tlsCa, tlsPin; // --tls-ca FILE, --tls-pin sha256:…
  std::string allowTypes;    // only these extensions ("txt,xls")
  std::string forbidTypes;   // never these
  bool ascii = false;        // TYPE A instead of TYPE I
  bool help = false;
  std::vector<std::vector<std::string>> commands;
};

// Splits `text` into words: blanks separate words; '…' keeps everything
// literally; "…" keeps blanks and lets \ escape $ ` " and \; a backslash
// outside quotes escapes the next character; backslash-newline (outside
// single quotes) joins two lines. Nothing is expanded. nullopt (and a
// reason in `error`) for an unterminated quote.
std::optional<std::vector<std::string>> SplitWords(const std::string& text, std::string* error);

// Whether `words` is one of the commands with its number of arguments;
// false with the command's usage (or "unknown command") in `error`.
bool CheckCommand(const std::vector<std::string>& words, std::string* error);

// Parses argv, commands included (checked before anything connects);
// nullopt (and a reason in `error`) for a bad command line.
std::optional<Options> ParseOptions(int argc, const char* const* argv, std::string* error);

extern const char* const kUsage;

}  // namespace pellan::tool
