#include "client/path_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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

std::optional<std::string> PathFileProblem(const std::string& path) {
  const std::string file = "[" + path + "]";
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return file + " cannot be read: " + std::strerror(errno);
  std::string text;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
  const bool failed = std::ferror(f) != 0;
  const int error = errno;
  std::fclose(f);
  if (failed) return file + " cannot be read: " + std::strerror(error);

  const PathFileFields fields = ParsePathFile(text);
  if (!fields.localPath) return file + " names no local folder (it is empty or blank): 文件夹不能为空!";
  if (!fields.serverName || TrimBlanks(*fields.serverName).empty()) {
    return file + " names no FTP server on line 2: 服务器地址不能为空";
  }
  if (fields.port && !TrimBlanks(*fields.port).empty() && CheckedPortText(*fields.port) != *fields.port) {
    return file + " line 3: '" + *fields.port + "' is not a port (a whole number from 1 to 65535)";
  }
  if (!ExistFolder(*fields.localPath)) {
    return "local folder [" + *fields.localPath + "] named in " + file + " is not there or not a folder: 文件夹[" +
           *fields.localPath + "]不存在!";
  }
  return std::nullopt;
}

}  // namespace pellan::client
