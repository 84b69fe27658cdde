// The path file "maoph.txt": what the client synchronises and where it logs
// in. The companion program (or an operator) writes it before the client
// starts; the client only reads it, once, at start-up.
//
//   first non-blank line   the local folder (kept as it stands, untrimmed)
//   line 2                 FTP server name or address
//   line 3                 FTP port
//   line 4                 FTP user name
//   line 5                 FTP password, in the clear
//
// Lines 2 to 5 are counted from the top of the file, whatever line held the
// folder; a file may stop after any line, and a missing line leaves its
// field as it was.
#pragma once

#include <optional>
#include <string>

namespace pellan::client {

inline constexpr char kDefaultPort[] = "21";

struct PathFileFields {
  std::optional<std::string> localPath;
  std::optional<std::string> serverName;
  std::optional<std::string> port;
  std::optional<std::string> userName;
  std::optional<std::string> passWord;
};

// The fields a path file's text gives (lines split at CR LF or LF).
PathFileFields ParsePathFile(const std::string& text);

// The fields of the path file at `path`; none when it is missing or empty.
PathFileFields ReadPathFile(const std::string& path);

// The port field's rule, applied on every change of its text: a whole
// number from 1 to 65535 (blanks around it allowed) is kept as it stands;
// anything else becomes "21".
std::string CheckedPortText(const std::string& text);

// The port a checked port text names.
long PortNumber(const std::string& checkedText);

// What keeps the path file at `path` from naming a session the client can
// start, as one line for an operator (the file or folder named, the problem
// in English, then the window's own message where it has one); nullopt when
// nothing does. A missing port line means 21; a port line that is there and
// not a port is a problem.
std::optional<std::string> PathFileProblem(const std::string& path);

}  // namespace pellan::client
