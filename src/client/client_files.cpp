#include "client/client_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/code_page.h"
#include "support/file.h"

namespace pellan::client {

namespace {

bool RegularFile(const std::string& path, struct stat* st) {
  return !path.empty() && stat(path.c_str(), st) == 0 && S_ISREG(st->st_mode);
}

}  // namespace

std::string TrimBlanks(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool SaveTextFile(const std::string& path, const std::string& text, bool overWrite) {
  if (path.empty()) return false;
  struct stat st{};
  bool lent = false;
  if (stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return false;  // never open a FIFO or a device
    if (!(st.st_mode & S_IWUSR)) {
      if (chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) != 0) return false;
      lent = true;
    }
  }
  bool ok = false;
  const int fd =
      open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | (overWrite ? O_TRUNC : O_APPEND), 0666);
  if (fd >= 0) {
    ok = WriteAll(fd, EncodeText(text + "\r\n", ProcessCodePage()));
    if (close(fd) != 0) ok = false;
  }
  if (lent) chmod(path.c_str(), st.st_mode & 07777);
  return ok;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    const size_t next = end == std::string::npos ? text.size() : end + 1;
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(begin, end - begin);
    if (end < text.size() && !line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    begin = next;
  }
  return lines;
}

std::string ReadTextFile(const std::string& path, int lineNumber) {
  struct stat st{};
  if (!RegularFile(path, &st)) return std::string();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::string();
  std::string bytes;
  char buf[65536];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      bytes.append(buf, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(fd);
  const auto lines = SplitLines(DecodeText(bytes, ProcessCodePage()));
  if (lineNumber >= 1) {
    return static_cast<size_t>(lineNumber) <= lines.size() ? lines[static_cast<size_t>(lineNumber) - 1]
                                                            : std::string();
  }
  std::string joined;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) joined += "\r\n";
    joined += lines[i];
  }
  return joined;
}

bool ExistFile(const std::string& path) {
  struct stat st{};
  return RegularFile(TrimBlanks(path), &st);
}

bool ExistFolder(const std::string& path) {
  const std::string trimmed = TrimBlanks(path);
  struct stat st{};
  return !trimmed.empty() && stat(trimmed.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFileIfExists(const std::string& path) {
  struct stat st{};
  if (!RegularFile(path, &st)) return false;
  return unlink(path.c_str()) == 0;
}

int64_t LocalFileSize(const std::string& path) {
  struct stat st{};
  return RegularFile(path, &st) ? static_cast<int64_t>(st.st_size) : -1;
}

std::string NormalizePath(const std::string& path) {
  std::string out;
  for (char c : TrimBlanks(path)) {
    if (c == '\\') c = '/';
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  return out;
}

std::string GetFolderName(const std::string& path) {
  std::string p = NormalizePath(path);
  if (p.size() > 1 && p.back() == '/') p.pop_back();
  const auto slash = p.rfind('/');
  if (slash == std::string::npos) return std::string();  // a bare name
  return p.substr(slash + 1);                             // "" for the root
}

}  // namespace pellan::client
