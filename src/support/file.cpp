#include "support/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>

#include "platform/code_page.h"
#include "support/current_error.h"
#include "support/error_record.h"
#include "support/text.h"

namespace pellan {

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

namespace {

// Trimmed, "\" turned into "/", doubled "/" collapsed: local and FTP paths
// look the same here.
std::string NormalisePath(const std::string& path) {
  std::string out;
  const std::string trimmed = TrimBlanks(path);
  out.reserve(trimmed.size());
  for (char c : trimmed) {
    if (c == '\\') c = '/';
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  return out;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    const auto end = text.find_first_of("\r\n", begin);
    if (end == std::string::npos) {
      lines.push_back(text.substr(begin));
      break;
    }
    lines.push_back(text.substr(begin, end - begin));
    begin = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

std::string BaseName(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void CFile::Fail(const char* operation, int err) const { FailWith(operation, err, ErrnoText(err)); }

void CFile::FailWith(const char* operation, long number, const std::string& description) const {
  HandledError handled(number, description);
  // The record describes this failure, not whatever it held before.
  CError& record = SharedErrorRecord();
  record.SetNumber(number);
  record.SetDescription(description);
  record.DealError(operation, false);
}

int CFile::ReadBytes(const std::string& filePath, std::string& bytes) const {
  bytes.clear();
  struct stat st{};
  if (stat(filePath.c_str(), &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISREG(st.st_mode)) return EINVAL;
  const int fd = open(filePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  char buf[65536];
  int err = 0;
  while (true) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      bytes.append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      err = errno;
      break;
    }
  }
  close(fd);
  return err;
}

int CFile::WriteBytes(const std::string& filePath, const std::string& bytes, bool overWrite,
                      bool makeWritable) const {
  struct stat st{};
  bool lent = false;
  if (stat(filePath.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    if (makeWritable && !(st.st_mode & S_IWUSR)) {
      if (chmod(filePath.c_str(), (st.st_mode & 07777) | S_IWUSR) != 0) return errno;
      lent = true;
    }
  }
  int err = 0;
  const int fd = open(filePath.c_str(),
                      O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | (overWrite ? O_TRUNC : O_APPEND), 0666);
  if (fd < 0) {
    err = errno;
  } else {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        err = errno;
        break;
      }
      done += static_cast<size_t>(n);
    }
    if (close(fd) != 0 && err == 0) err = errno;
  }
  if (lent) chmod(filePath.c_str(), st.st_mode & 07777);
  return err;
}

bool CFile::WriteFile(const std::string& filePath, const std::string& text, bool overWrite) const {
  if (filePath.empty()) return false;
  const int err = WriteBytes(filePath, EncodeText(text + "\r\n", ProcessCodePage()), overWrite, true);
  if (err != 0) {
    Fail("WriteFile", err);
    return false;
  }
  return true;
}

std::string CFile::ReadJoinedLines(const std::string& filePath, const char* operation,
                                   bool quietWhenMissing) const {
  std::string bytes;
  const int err = ReadBytes(filePath, bytes);
  if (err != 0) {
    if (!(quietWhenMissing && err == ENOENT)) Fail(operation, err);
    return std::string();
  }
  const auto lines = SplitLines(DecodeText(bytes, ProcessCodePage()));
  std::string joined;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) joined += "\r\n";
    joined += lines[i];
  }
  return joined;
}

std::string CFile::ReadFile(const std::string& filePath, int lineNumber) const {
  if (lineNumber <= 0) return ReadJoinedLines(filePath, "ReadFile", false);
  std::string bytes;
  const int err = ReadBytes(filePath, bytes);
  if (err != 0) {
    Fail("ReadFile", err);
    return std::string();
  }
  const auto lines = SplitLines(DecodeText(bytes, ProcessCodePage()));
  return static_cast<size_t>(lineNumber) <= lines.size() ? lines[static_cast<size_t>(lineNumber) - 1]
                                                          : std::string();
}

long CFile::GetFileAttrib(const std::string& strFilePath) const {
  struct stat st{};
  if (strFilePath.empty() || lstat(strFilePath.c_str(), &st) != 0) return 0;
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return 0;
  long bits = 0;
  if (!(st.st_mode & S_IWUSR)) bits |= kAttrReadOnly;
  const std::string name = BaseName(strFilePath);
  if (name.size() > 1 && name[0] == '.' && name != "..") bits |= kAttrHidden;
  if (S_ISDIR(st.st_mode)) bits |= kAttrDirectory;
  return bits == 0 ? static_cast<long>(kAttrNormal) : bits;
}

bool CFile::SetFileAttrib(const std::string& strFilePath, int intFileAttrib) const {
  struct stat st{};
  if (strFilePath.empty() || lstat(strFilePath.c_str(), &st) != 0) return false;
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return false;
  mode_t mode = st.st_mode & 07777;
  if (intFileAttrib & kAttrReadOnly) {
    mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  } else {
    mode |= S_IWUSR;
  }
  return chmod(strFilePath.c_str(), mode) == 0;
}

bool CFile::FileExists(const std::string& filePath) const {
  const std::string path = TrimBlanks(filePath);
  struct stat st{};
  return !path.empty() && lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool CFile::FolderExists(const std::string& folderPath) const {
  const std::string path = TrimBlanks(folderPath);
  struct stat st{};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string CFile::GetParentFolderPath(const std::string& filePath) const {
  const std::string path = FormatPath(filePath);
  const auto slash = path.rfind('/');
  return (slash == std::string::npos || slash == 0) ? std::string() : path.substr(0, slash);
}

std::string CFile::FormatPath(const std::string& filePath) const { return NormalisePath(filePath); }

std::string CFile::FormatFTPPath(const std::string& ftpPath) const { return NormalisePath(ftpPath); }

double CFile::Long2Size(int32_t longLow, int32_t longHigh) const {
  return static_cast<double>(longHigh) * 4294967296.0 + static_cast<double>(static_cast<uint32_t>(longLow));
}

void CFile::Size2Long(double size, int32_t& longLow, int32_t& longHigh) const {
  const double whole = std::nearbyint(size);
  // Whole numbers of bytes in the range of a signed 64-bit size only.
  if (!(whole >= -9223372036854775808.0 && whole < 9223372036854775808.0)) {
    longLow = 0;
    longHigh = 0;
    return;
  }
  const int64_t value = static_cast<int64_t>(whole);
  longHigh = static_cast<int32_t>(value >> 32);  // floor division by 2^32
  longLow = static_cast<int32_t>(static_cast<uint32_t>(value & 0xFFFFFFFF));
}

}  // namespace pellan
