// The command operations on single remote entries: delete, remove
// and create folders, rename, change and read the working directory, and
// the size of a remote file.
#include "ftp/session/reply_parser.h"
#include "ftp/remote/ftp_remote.h"
#include "ftp/remote/command_run.h"
#include "platform/date_text.h"
#include "support/error_record.h"
#include "support/file.h"
#include "support/scoped_value.h"
#include "support/text.h"

namespace pellan {

namespace {

// Everything before the last separator when it is not the first character,
// else "" (the parent of "/x" is the root, which is never created).
std::string ParentFtpPath(const std::string& path) {
  const auto pos = path.find_last_of("/\\");
  if (pos == std::string::npos || pos < 1) return std::string();
  return CFile().FormatFTPPath(path.substr(0, pos));
}

}  // namespace

bool FtpRemote::RunCommandOperation(long operation, const std::string& command, const std::string& argument,
                                    const std::string& nextArgument) {
  if (!Connect()) return false;
  if (m_lngOperation != kOpNone) Raise(kErrOperationUnfinished);
  CommandRun run(command, nextArgument.empty() ? std::string() : "RNTO", nextArgument);
  const ScopedPointer<CommandRun> current(m_command, &run);
  SetOperation(operation);
  if (!SendFtpCommand(command, argument)) return false;
  WaitForReply(operation);
  return ErrorNumber() == 0;
}

bool FtpRemote::DeleteFile(const std::string& remotePath) {
  try {
    const std::string path = TrimBlanks(remotePath);
    if (path.empty()) Raise(kErrNoRemotePath);
    return RunCommandOperation(kOpDele, "DELE", path);
  } catch (const Raised& r) {
    ReportError("DeleteFile", r.number, r.description);
    return false;
  }
}

bool FtpRemote::ForgetCreatedDirectory(const std::string& path, bool withAncestors) {
  std::string kept = "|";
  bool forgot = false;
  size_t start = 1;
  while (start < m_createdDirectories.size()) {
    const size_t end = m_createdDirectories.find('|', start);
    const std::string entry = m_createdDirectories.substr(start, end - start);
    const bool drop = entry == path || entry.rfind(path + "/", 0) == 0 ||
                      (withAncestors && (entry == "/" ? path.size() > 1 : path.rfind(entry + "/", 0) == 0));
    if (drop) {
      forgot = true;
    } else {
      kept += entry + "|";
    }
    start = end + 1;
  }
  m_createdDirectories = kept;
  return forgot;
}

bool FtpRemote::RemoveDirectory(const std::string& remotePath) {
  try {
    const std::string path = CFile().FormatFTPPath(remotePath);
    if (path.empty()) Raise(kErrNoRemotePath);
    if (!RunCommandOperation(kOpRmd, "RMD", path)) return false;
    // Forget the folder (and, since it was empty, anything remembered below it).
    ForgetCreatedDirectory(path, false);
    return true;
  } catch (const Raised& r) {
    ReportError("RemoveDirectory", r.number, r.description);
    return false;
  }
}

bool FtpRemote::RenameFile(const std::string& oldFileName, const std::string& newFileName) {
  try {
    const std::string from = TrimBlanks(oldFileName), to = TrimBlanks(newFileName);
    if (from.empty() || to.empty()) Raise(kErrNoRemotePath);
    if (from == to) return true;
    return RunCommandOperation(kOpRename, "RNFR", from, to);
  } catch (const Raised& r) {
    ReportError("RenameFile", r.number, r.description);
    return false;
  }
}

bool FtpRemote::SetCurrentDirectory(const std::string& directoryPath) {
  try {
    std::string path = TrimBlanks(directoryPath);
    if (path.empty()) Raise(kErrNoRemotePath);
    if (path == ".") path = "/";
    return RunCommandOperation(kOpCwd, "CWD", path);
  } catch (const Raised& r) {
    ReportError("SetCurrentDirectory", r.number, r.description);
    return false;
  }
}

std::string FtpRemote::GetCurrentDirectory() {
  try {
    if (!RunCommandOperation(kOpPwd, "PWD", "")) return std::string();
    m_currentDirectory = TrimBlanks(m_currentDirectory);
    if (m_currentDirectory.empty()) Raise(kErrNoWorkingDirectory);
    return m_currentDirectory;
  } catch (const Raised& r) {
    ReportError("GetCurrentDirectory", r.number, r.description);
    return std::string();
  }
}

std::string FtpRemote::GetParentDirectory() {
  const std::string current = GetCurrentDirectory();
  const auto pos = current.find_last_of('/');
  if (pos == std::string::npos || pos < 1) return "/";
  return current.substr(0, pos);
}

bool FtpRemote::FolderExistsByCwd(const std::string& path) {
  const ScopedCount quiet(m_quietProbe);
  const std::string previous = GetCurrentDirectory();
  bool exists = false;
  if (!previous.empty()) {
    exists = SetCurrentDirectory(path);
    if (exists) SetCurrentDirectory(previous);
  }
  return exists;
}

bool FtpRemote::CreateDirectory(const std::string& directoryPath, bool recursive) {
  std::string path = CFile().FormatFTPPath(directoryPath);
  if (m_createdDirectories.find("|" + path + "|") != std::string::npos) {
    LogLine("Already create: " + path + "; " + NowText());
    return true;
  }
  SharedErrorRecord().Clear();
  try {
    path = TrimBlanks(path);
    if (path.empty()) Raise(kErrNoRemotePath);
    if (path.size() > 1 && path.back() == '/') path.pop_back();
    if (!Connect()) return false;
    if (recursive) {
      const std::string parent = ParentFtpPath(path);
      if (!parent.empty()) CreateDirectory(parent, true);
    }
    if (ErrorNumber() != 0) return false;
    // Servers word "already there" in many ways: a refused MKD of a folder
    // that exists is a success, so the host hears of a refusal only once it
    // is known to be one.
    bool made = false;
    {
      const ScopedCount quiet(m_quietProbe);
      made = RunCommandOperation(kOpMkd, "MKD", path);
    }
    if (made) {
      m_createdDirectories += path + "|";
      return true;
    }
    const long number = ErrorNumber();
    const std::string text = ErrorInfo();
    if (number == kErrReplyBase + 550 && FolderExistsByCwd(path)) {
      SharedErrorRecord().Clear();
      m_createdDirectories += path + "|";
      return true;
    }
    SharedErrorRecord().Clear();
    RaiseError("FtpLibrary.CreateDirectory", number, text);
    RaiseOnError(number);
    return false;
  } catch (const Raised& r) {
    ReportError("CreateDirectory", r.number, r.description);
    return false;
  }
}

double FtpRemote::GetRemoteFileSize(const std::string& remotePath) {
  SharedErrorRecord().Clear();
  CommandRun run("TYPE", "SIZE", TrimBlanks(remotePath));
  const ScopedPointer<CommandRun> current(m_command, &run);
  try {
    if (!Connect()) return -2;
    if (m_lngOperation != kOpNone) Raise(kErrOperationUnfinished);
    if (run.nextArgument.empty()) Raise(kErrNoRemotePath);
    SetOperation(kOpSize);
    // Some servers answer SIZE only in binary mode.
    if (!SendFtpCommand("TYPE", "I")) return run.size;
    WaitForReply(kOpSize);
    return run.size;
  } catch (const Raised& r) {
    ReportError("GetRemoteFileSize", r.number, r.description);
    return run.size;
  }
}

}  // namespace pellan
