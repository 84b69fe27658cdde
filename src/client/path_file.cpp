#include "client/path_file.h"

#include "client/client_files.h"

namespace pellan::client {

PathFileFields ParsePathFile(const std::string& text) {
  PathFileFields fields;
  const auto lines = SplitLines(text);
  if (lines.empty()) return fields;
  for (const auto& line : lines) {
    if (!TrimBlanks(line).empty()) {
      fields.localPath = line;
      break;
    }
  }
  // A file with no folder line gives nothing else either.
  if (!fields.localPath) return fields;
  if (lines.size() >= 2) fields.serverName = lines[1];
  if (lines.size() >= 3) fields.port = lines[2];
  if (lines.size() >= 4) fields.userName = lines[3];
  if (lines.size() >= 5) fields.passWord = lines[4];
  return fields;
}

PathFileFields ReadPathFile(const std::string& path) { return ParsePathFile(ReadTextFile(path, 0)); }

std::string CheckedPortText(const std::string& text) {
  const std::string digits = TrimBlanks(text);
  if (digits.empty() || digits.size() > 10) return kDefaultPort;
  long value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return kDefaultPort;
    value = value * 10 + (c - '0');
  }
  return (value >= 1 && value <= 65535) ? text : std::string(kDefaultPort);
}

long PortNumber(const std::string& checkedText) {
  const std::string checked = CheckedPortText(checkedText);
  return std::stol(TrimBlanks(checked));
}

}  // namespace pellan::client
