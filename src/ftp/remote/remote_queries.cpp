// Questions about remote entries, answered from listings.
#include "ftp/session/reply_parser.h"
#include "ftp/remote/ftp_remote.h"
#include "platform/date_text.h"
#include "support/error_record.h"
#include "support/file.h"
#include "support/text.h"

namespace pellan {

namespace {

// The last part of a path that may end in "/" ("/a/b/" -> "b").
std::string NameOf(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return LastPathPart(path);
}

std::unique_ptr<CFtpFile> CopyOf(const CFtpFile& f) { return std::make_unique<CFtpFile>(f); }

}  // namespace

// Lists the folder that holds `p` (a path with a space, which servers do not
// take as a LIST argument): changes into it when its own path has a space,
// lists, and changes back. A pattern in the last component goes with the
// listing, wherever it runs. `failureLine` names the query in the log.
std::unique_ptr<CFtpFiles> FtpRemote::ListParentOf(const std::string& p, const char* failureLine, bool* failed) {
  *failed = false;
  const auto slash = p.find_last_of('/');
  std::string dir = slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
  const std::string last = slash == std::string::npos ? p : p.substr(slash + 1);
  const std::string pattern = last.find_first_of("*?") != std::string::npos ? last : std::string();
  bool changed = false;
  std::string previous;
  if (dir.find(' ') != std::string::npos && !dir.empty() &&
      CFile().FormatFTPPath(dir) != CFile().FormatFTPPath(m_currentDirectory)) {
    previous = m_currentDirectory;
    if (!SetCurrentDirectory(dir)) {
      *failed = true;
      return nullptr;
    }
    dir.clear();
    changed = true;
  }
  std::unique_ptr<CFtpFiles> files = GetRemoteFilesInfo(dir + pattern);
  if (changed) {
    const long number = ErrorNumber();
    const std::string text = ErrorInfo();
    const std::string back = previous.empty() ? std::string("/") : previous;
    if (!SetCurrentDirectory(back)) {
      LogLine(std::string(failureLine) + ErrorInfo() + "|" + NowText());
    } else {
      m_currentDirectory = previous;
    }
    // Coming back does not change what the listing found.
    SharedErrorRecord().Clear();
    if (number != 0) RaiseError("FtpLibrary.ListParent", number, text);
  }
  return files;
}

std::unique_ptr<CFtpFile> FtpRemote::GetFtpFileInfo(const std::string& remotePath) {
  const std::string p = CFile().FormatFTPPath(remotePath);
  const std::string name = NameOf(p);
  auto missing = [&]() -> std::unique_ptr<CFtpFile> {
    ReportError("GetFtpFileInfo", kErrRemoteFileMissing,
                ErrorMessages::Fill(m_messages.GetErrorMessage(kErrRemoteFileMissing), {p}));
    return nullptr;
  };
  if (p.find(' ') == std::string::npos) {
    std::unique_ptr<CFtpFiles> files = GetRemoteFilesInfo(p);
    if (!files) return ErrorNumber() == 0 ? missing() : nullptr;
    if (files->Count() != 1) return missing();
    const CFtpFile& only = *files->Item(size_t{1});
    if (NameOf(only.FileName()) != name) return missing();
    return CopyOf(only);
  }
  bool failed = false;
  std::unique_ptr<CFtpFiles> files = ListParentOf(p, "SetCurrentDirectory File=False|", &failed);
  if (failed) return nullptr;
  if (!files) return ErrorNumber() == 0 ? missing() : nullptr;
  for (const CFtpFile& f : *files) {
    if (NameOf(f.FileName()) == name) return f.IsDirectory() ? missing() : CopyOf(f);
  }
  return missing();
}

std::unique_ptr<CFtpFiles> FtpRemote::GetFtpDirectoryInfo(const std::string& directoryPath) {
  const std::string p = CFile().FormatFTPPath(directoryPath);
  auto missing = [&]() -> std::unique_ptr<CFtpFiles> {
    ReportError("GetFtpDirectoryInfo", kErrRemoteFolderMissing,
                ErrorMessages::Fill(m_messages.GetErrorMessage(kErrRemoteFolderMissing), {p}));
    return nullptr;
  };
  // The folder itself, without a pattern that may follow it.
  std::string folder = p;
  if (NameOf(folder).find_first_of("*?") != std::string::npos) {
    const auto slash = folder.find_last_of('/');
    folder = slash == std::string::npos ? std::string() : (slash == 0 ? std::string("/") : folder.substr(0, slash));
  }
  std::unique_ptr<CFtpFiles> files;
  if (p.find(' ') == std::string::npos) {
    files = GetRemoteFilesInfo(p + "/");
    // LIST of a file answers with the file itself, and a pattern such as "*"
    // matches it: one file named as the folder means the path names a file,
    // unless (asked only for a pattern) the folder is there and holds a
    // file of its own name.
    if (files && files->Count() == 1) {
      const CFtpFile& only = *files->Item(size_t{1});
      if (!only.IsDirectory() && NameOf(only.FileName()) == NameOf(folder) &&
          (folder == p || !FolderExistsByCwd(folder))) {
        return missing();
      }
    }
  } else {
    bool failed = false;
    // A folder is listed from inside itself; a pattern from inside its folder.
    files = ListParentOf(folder != p ? p : p + "/", "SetCurrentDirectory Folder=False|", &failed);
    if (failed) return nullptr;
  }
  if (files || ErrorNumber() != 0) return files;
  // Nothing listed and no error: some servers list a missing folder as an
  // empty one, so an empty answer counts only for a folder that is there.
  if (!folder.empty() && !FolderExistsByCwd(folder)) return missing();
  return nullptr;
}

bool FtpRemote::ExistDirectory(const std::string& directoryName) {
  std::string path = CFile().FormatFTPPath(directoryName);
  if (path.empty() || path.back() != '/') path += "/";
  path += "*";
  std::unique_ptr<CFtpFiles> r = GetFtpDirectoryInfo(path);
  return r != nullptr || ErrorNumber() == 0;
}

double FtpRemote::GetFtpFileSize(const std::string& remotePath) {
  std::unique_ptr<CFtpFile> info = GetFtpFileInfo(remotePath);
  if (info) return static_cast<double>(info->FileSize());
  if (ErrorNumber() != 0) {
    ReportError("GetFtpFileSize", kErrRemoteFileMissing,
                ErrorMessages::Fill(m_messages.GetErrorMessage(kErrRemoteFileMissing), {remotePath}));
    return -1;
  }
  ReportError("GetFtpFileSize", ErrorNumber(), ErrorInfo());
  return -2;
}

}  // namespace pellan
