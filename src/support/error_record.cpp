#include "support/error_record.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/code_page.h"
#include "platform/date_text.h"
#include "platform/front_end.h"
#include "support/file.h"
#include "support/current_error.h"
#include "support/text.h"

namespace pellan {

namespace {

std::unique_ptr<CError> g_sharedRecord;

bool IsFolder(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// mkdir -p for the log folder; true when it exists afterwards.
bool MakeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0700);
  }
  mkdir(path.c_str(), 0700);
  return IsFolder(path);
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home == '/') return home;
  struct passwd pw{};
  struct passwd* found = nullptr;
  char buf[4096];
  if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir &&
      found->pw_dir[0] == '/') {
    return found->pw_dir;
  }
  return std::string();
}

}  // namespace

long CError::GetErrorNumber() const {
  const long handled = CurrentError().number;
  return handled != 0 ? handled : errno;
}

void CError::DealError(const std::string& errSource, bool errShow) {
  bool numberFromErrno = false;
  if (m_number == 0) {
    const long handled = CurrentError().number;
    if (handled != 0) {
      m_number = handled;
    } else {
      m_number = errno;
      numberFromErrno = m_number != 0;
    }
    if (m_number == 0 && m_description.empty()) return;
  }
  if (m_description.empty()) {
    // The text belongs to the number: the handled error's own text, or the
    // system's text when the number came from errno.
    m_description = numberFromErrno ? ErrnoText(static_cast<int>(m_number)) : CurrentError().description;
  }
  const std::string source = TrimBlanks(errSource);
  if (!source.empty()) m_source = source;

  const std::string numbered = m_description + "(" + std::to_string(m_number) + ")";
  if (m_showError || errShow) CurrentFrontEnd().MessageBox(numbered, std::string(), kMbOkOnly);

  const std::string path = CFile().FormatPath(m_logFilePath);
  const auto slash = path.rfind('/');
  if (slash != std::string::npos && IsFolder(path.substr(0, slash + 1))) {
    WriteFile(m_source + "|" + numbered, false);
  }
}

bool CError::WriteFile(const std::string& text, bool overWrite) {
  const std::string path = CFile().FormatPath(m_logFilePath);
  if (path.empty()) return false;
  struct stat st{};
  if (lstat(path.c_str(), &st) == 0) {
    // Never open anything but a regular file (a FIFO would block).
    if (!S_ISREG(st.st_mode)) return false;
    if (!overWrite && st.st_size > kLogSizeLimit) unlink(path.c_str());
  }
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (overWrite ? O_TRUNC : O_APPEND),
                      0644);
  if (fd < 0) return false;
  const bool ok = WriteAll(fd, EncodeText(text + "  {" + NowText() + "}\r\n", ProcessCodePage()));
  return close(fd) == 0 && ok;
}

void CError::Clear() {
  m_number = 0;
  m_description.clear();
  m_source.clear();
}

CError& SharedErrorRecord() {
  if (!g_sharedRecord) g_sharedRecord = std::make_unique<CError>();
  return *g_sharedRecord;
}

bool SharedErrorRecordExists() { return g_sharedRecord != nullptr; }

std::string EngineLogPath() {
  std::string base;
  const char* state = std::getenv("XDG_STATE_HOME");
  // Relative values are ignored, as the base-directory rules say.
  if (state && *state == '/') {
    base = state;
  } else {
    const std::string home = HomeFolder();
    if (home.empty()) return std::string();
    base = home + "/.local/state";
  }
  while (!base.empty() && base.back() == '/') base.pop_back();  // "/" gives "/tolvarftp"
  const std::string folder = base + "/tolvarftp";
  if (!MakeFolders(folder)) return std::string();
  return folder + "/TolvarFtp.Log";
}

void LogStep(const std::string& operation, const char* from, const char* to) {
  if (SharedErrorRecord().Verbose()) SharedErrorRecord().WriteFile(operation + ": " + from + " -> " + to);
}

}  // namespace pellan
