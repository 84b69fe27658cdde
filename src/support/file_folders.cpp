// CFile: creating and listing local folders.
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "support/error_messages.h"
#include "platform/event_loop.h"
#include "support/current_error.h"
#include "support/file.h"

namespace pellan {

namespace {

// The names in `folder` (without "." and ".."), in byte order; the errno of
// a failure to open it, else 0.
int FolderNames(const std::string& folder, std::vector<std::string>& names) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return errno;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return 0;
}

}  // namespace

bool CFile::CreateFolder(const std::string& folderPath) const {
  std::string path = FormatPath(folderPath);
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  ErrorMessages& messages = CurrentErrorMessages();
  if (path.empty()) {
    FailWith("CreateFolder", kErrorNumber, messages.Row(kRowInputFilename));
    return false;
  }
  if (path[0] != '/') {
    FailWith("CreateFolder", kErrorNumber, ErrorMessages::Fill(messages.Row(kRowInvalidPath), {path}));
    return false;
  }
  if (FolderExists(path)) return true;

  const std::string parent = GetParentFolderPath(path);
  if (!parent.empty() && !FolderExists(parent)) CreateFolder(parent);

  if (mkdir(path.c_str(), 0777) != 0 && !(errno == EEXIST && FolderExists(path))) {
    messages.RaiseError("CreateFolder", kErrorNumber,
                        ErrorMessages::Fill(messages.Row(kRowCreateFolderFailed), {path}), false);
    return false;
  }
  return true;
}

std::string CFile::ListDirs(std::string folderPath, std::vector<std::string>& dirs, const std::string& extendName,
                            bool recursive, int& flag, int& dirCount) const {
  if (dirCount <= 0) {
    dirCount = 0;
    dirs.clear();
    std::replace(folderPath.begin(), folderPath.end(), '\\', '/');
  }
  const int first = dirCount + 1;

  // A last component with a wildcard is a pattern for the names of its
  // folder; a pattern for file names ("*.txt") lists files only.
  std::string pattern;
  const auto slash = folderPath.rfind('/');
  const std::string last = slash == std::string::npos ? folderPath : folderPath.substr(slash + 1);
  if (last.find_first_of("*?") != std::string::npos) {
    if (last.find('.') != std::string::npos) flag = 0;
    pattern = last;
    folderPath.resize(slash == std::string::npos ? 0 : slash + 1);
  } else if (!folderPath.empty() && folderPath.back() != '/') {
    folderPath += '/';  // a folder named without its final "/"
  }
  if (folderPath.empty() && pattern.empty()) return std::string();

  std::vector<std::string> names;
  const int err = FolderNames(folderPath, names);
  if (err != 0 && err != ENOENT && err != ENOTDIR) Fail("ListDirs", err);

  std::string result;
  for (const std::string& name : names) {
    if (!pattern.empty() && fnmatch(pattern.c_str(), name.c_str(), 0) != 0) continue;
    const std::string path = folderPath + name;
    struct stat st{};
    // Links are not followed (no loops, nothing outside the tree) and only
    // regular files count as files.
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      ++dirCount;
      if (dirs.size() < static_cast<size_t>(dirCount)) dirs.resize(static_cast<size_t>(dirCount));
      dirs[static_cast<size_t>(dirCount) - 1] = path + "/";
      if (flag == 1) result += path + "*";
      else if (flag != 0) result += path + "|1*";
    } else if (S_ISREG(st.st_mode)) {
      if (flag == 0) result += path + "*";
      else if (flag != 1) result += path + "|0*";
    }
    CurrentLoop().Pump();  // a large folder must not freeze the session
  }

  if (recursive) {
    const int lastOfLevel = dirCount;
    for (int i = first; i <= lastOfLevel; ++i) {
      const std::string sub = dirs[static_cast<size_t>(i) - 1];
      result += ListDirs(sub, dirs, extendName, recursive, flag, dirCount);
    }
  }
  return result;
}

std::string CFile::GetFolderFilePath(const std::string& folderPath, bool recursive, int flag) const {
  std::vector<std::string> dirs;
  int dirCount = 0;
  std::string list = ListDirs(folderPath, dirs, std::string(), recursive, flag, dirCount);
  if (!list.empty() && list.back() == '*') list.pop_back();
  return list;
}

}  // namespace pellan
