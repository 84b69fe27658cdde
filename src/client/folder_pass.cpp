// frmTLVFTP: the folder pass, the work the client exists for. Outgoing "T"
// files go up into the remote folder named like the local one and are then
// deleted locally; for 120 seconds after the last upload, incoming "R" files
// come down through a ".tmp" name and are then deleted on the server. Before
// the first upload of a new batch the remote folder is emptied of old "R"
// files. No file leaves one side before the other holds all of it.
//
// Local names are the disk's bytes (UTF-8) as they stand: the FTP control
// alone converts names to and from the server's code page.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>

#include "client/client_files.h"
#include "client/headless_front_end.h"
#include "client/main_window.h"
#include "ftp/remote/ftp_file.h"
#include "platform/date_text.h"

namespace pellan::client {

namespace {

// Regular files of `folder` whose names start with `prefix`, in byte order:
// the list is taken once, so files that arrive later wait for the next pass.
// nullopt (errno set) when the folder cannot be read.
std::optional<std::vector<std::string>> OutgoingFiles(const std::string& folder, const std::string& prefix) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return std::nullopt;
  while (dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name.empty() || name[0] == '.' || name.compare(0, prefix.size(), prefix) != 0) continue;
    struct stat st {};
    if (lstat((folder + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

// Which file a path names and what it looked like: an upload deletes its
// file only when it is still the same file, unchanged. A replacement of the
// same size that kept the modification time (cp -p, then mv) is another
// inode with another change time.
struct FileStamp {
  bool ok = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  timespec ctime{};
  static bool Same(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }
  bool operator==(const FileStamp& o) const {
    return ok && o.ok && dev == o.dev && ino == o.ino && size == o.size && Same(mtime, o.mtime) &&
           Same(ctime, o.ctime);
  }
};

FileStamp StampOf(const std::string& path) {
  FileStamp s;
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    s.ok = true;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtime = st.st_mtim;
    s.ctime = st.st_ctim;
  }
  return s;
}

// A name the pass may use exactly as it stands, locally and on the server:
// no path, nothing the FTP control would trim or turn into a separator,
// no line end, and no longer than a file name may be.
bool IsPlainName(const std::string& name) {
  return IsSafeLocalFileName(name) && TrimBlanks(name) == name && name.find_first_of("\r\n") == std::string::npos &&
         name.size() <= NAME_MAX;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A name as a log line may show it: control bytes as \xNN, a long name cut.
std::string Shown(const std::string& name) {
  constexpr size_t kShownBytes = 300;
  std::string out;
  for (size_t i = 0; i < name.size() && i < kShownBytes; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == 0x7f) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += name[i];
    }
  }
  if (name.size() > kShownBytes) out += "...(" + std::to_string(name.size()) + " bytes)";
  return out;
}

std::string Bool(bool v) { return v ? "True" : "False"; }

std::string Whole(double v) { return std::to_string(static_cast<long long>(v)); }

}  // namespace

void frmTLVFTP::RunPass() {
  m_dtLastActive = Moment::Now();
  if (FolderPass) {  // tests put their own pass here
    FolderPass();
    return;
  }
  for (const std::string& entry : SplitLines(m_strFolders)) {
    if (!m_blnRunning) break;
    if (!TrimBlanks(entry).empty()) ScanFolder(TrimBlanks(entry));
    CurrentLoop().Pump();
  }
}

void frmTLVFTP::ScanFolder(const std::string& folderIn) {
  try {
    if (!ExistFolder(folderIn)) {
      WriteLog("路径[" + folderIn + "]不存在!");
      Alert(folderIn, "Local folder missing: [" + folderIn + "]");
      return;
    }
    std::string folder = NormalizePath(folderIn);
    if (folder.empty() || folder.back() != '/') folder += "/";
    WriteLog("------------------");
    const std::string remoteFolder = GetFolderName(folder);
    WriteLog("开始上传[" + folder + "]中的文件");
    const auto uploads = OutgoingFiles(folder, m_strUpPrefix);
    if (!uploads) {
      Alert(folderIn, "Local folder cannot be read: [" + folder + "] " + std::strerror(errno));
      return;
    }
    AlertCleared(folderIn);
    ResumeCutDownloads(folder);
    for (size_t k = 0; k < uploads->size(); ++k) {
      if (!m_blnRunning) return;
      const std::string key = "UP:" + folder + (*uploads)[k];
      if (DueForAttempt(key)) Attempted(key, UploadOne(folder, remoteFolder, (*uploads)[k], k + 1));
      m_dtLastActive = Moment::Now();
      CurrentLoop().Pump();
    }

    // Replies come shortly after an upload: look for them for 120 seconds.
    // Before the first upload there is no window at all.
    const Moment now = Moment::Now();
    if (!m_dtLastUpload || SecondBoundaries(*m_dtLastUpload, now) > 120) {
      m_blnClearPending = true;
      WriteLog("Waiting...|" + (m_dtLastUpload ? m_dtLastUpload->Text() : std::string()) + "|" + now.Text());
      return;
    }
    WriteLog("开始下载[" + remoteFolder + "/" + "]中的文件");
    if (!m_blnRunning) return;
    m_strDirection = "LIST";
    std::unique_ptr<CFtpFiles> list = m_ftp->GetFtpDirectoryInfo(remoteFolder + "/" + m_strDownPrefix + "*");
    m_strDirection.clear();
    if (!m_blnRunning) return;
    if (!list) {
      const long number = m_ftp->ErrorNumber();
      if (number == 0) {
        ShowState(remoteFolder + ":没有文件!", false, true);
      } else if (number != kErrCanceled) {
        ShowState(remoteFolder + ":发生错误!\r\n" + m_ftp->ErrorInfo(), true);
        ++m_failedAttempts;  // nothing could be fetched
      }
      return;
    }
    for (size_t j = 1; j <= list->Count(); ++j) {
      if (!m_blnRunning) return;
      const CFtpFile& entry = *list->Item(j);
      const std::string key = "DOWN:" + remoteFolder + "/" + entry.FileName();
      if (!entry.IsDirectory() && DueForAttempt(key)) Attempted(key, DownloadOne(folder, remoteFolder, entry, j));
      m_dtLastActive = Moment::Now();
      CurrentLoop().Pump();
    }
  } catch (const std::exception& e) {
    WriteError("ScanFolder", e.what(), false);
  }
}

bool frmTLVFTP::UploadOne(const std::string& folder, const std::string& remoteFolder, const std::string& name,
                          size_t k) {
  WriteLog("上传文件" + std::to_string(k) + ":[" + name + "]" + std::to_string(LocalFileSize(folder + name)));
  // The type test looks for the last three characters anywhere in the list.
  const std::string last3 = name.size() >= 3 ? name.substr(name.size() - 3) : name;
  std::string lower = last3;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (m_strTypeList.find(lower) == std::string::npos) {
    WriteLog("Type mismatch:[" + m_strTypeList + "#" + last3 + "]");
    return true;
  }
  // The FTP control reads "\" as a separator: such a name would send (and
  // then let this pass delete) another file.
  if (!IsPlainName(name)) {
    SayOnce("Up", "Unsafe name skipped: [" + Shown(folder + name) + "]");
    return true;
  }
  if (m_blnClearPending) {
    ClearRemoteFile(remoteFolder);
    m_blnClearPending = false;
  }
  ClearLeftoverUploads(remoteFolder);
  ShowState(name + ":开始上传...");
  FtpLibrary& ftp = *m_ftp;
  const std::string localPath = folder + name;
  // The companion may still be writing the file: it is deleted only if it
  // did not change while it went up.
  const FileStamp before = StampOf(localPath);
  ftp.SetLocalPath(localPath);
  ftp.SetRemotePath(remoteFolder + "/" + name);
  ftp.SetOverWrite(true);
  ftp.SetUploadTempName(!m_settings.directUploads);
  m_strDirection = "UP";
  m_blnForced = false;
  const bool sent = ftp.UpLoad();
  if (sent) {
    m_dtLastUpload = Moment::Now();
    WriteLog("UP:" + std::to_string(ftp.Percent()) + "#Force=" + Bool(m_blnForced));
    if (!m_blnForced) {
      ShowState(name + ":上传完成", false, true);
      if (StampOf(localPath) == before) {
        if (DeleteFileIfExists(localPath)) ShowState(name + ":删除完成", false, true);
      } else {
        WriteError("Up", "File changed while it was uploaded, kept for the next pass: " + localPath, false);
      }
    }
  } else {
    if (ftp.ErrorNumber() == kErrCanceled) {
      m_blnAbortSent = false;
      WriteError("Up", "SendAbort", false);
    } else {
      ShowState(name + ":上传失败\r\n" + ftp.ErrorInfo(), true);
    }
    // Whatever the server took is not the whole file, even when nothing was
    // counted yet (a STOR it took has created it).
    const std::string cut = CutUploadPath();
    if (!cut.empty()) ftp.DeleteFile(cut);
  }
  m_strDirection.clear();
  return sent && !m_blnForced;
}

bool frmTLVFTP::Skipped(const std::string& procedure, const std::string& remoteFolder, const CFtpFile& entry,
                        bool download) {
  // A listed name is data: it is used exactly as listed or not at all.
  const std::string& name = entry.FileName();
  const char* why = nullptr;
  if (!IsPlainName(name) || (download && name.size() + m_strTmpExt.size() > NAME_MAX)) {
    why = "Unsafe name";
  } else if (download && (entry.Permissions().rfind('l', 0) == 0 || !entry.FilePath().empty())) {
    // Its listed size is that of the link's text, not of a file to fetch.
    why = "Link";
  } else if (download && EndsWith(name, m_strTmpExt)) {
    // Its final name would be another download's temporary name.
    why = "Temporary name";
  }
  if (!why) return false;
  SayOnce(procedure, std::string(why) + " skipped: [" + Shown(remoteFolder + "/" + name) + "]");
  return true;
}

void frmTLVFTP::SayOnce(const std::string& procedure, const std::string& line) {
  // Said once per name and run, not on every pass; a server that lists new
  // names for ever fills neither memory nor the log.
  constexpr size_t kMaxRemembered = 10000;
  if (m_skippedNames.size() < kMaxRemembered && m_skippedNames.insert(line).second) WriteError(procedure, line, false);
}

void frmTLVFTP::ResumeCutDownloads(const std::string& folder) {
  if (!m_foldersResumed.insert(folder).second) return;
  bool found = false;
  for (const std::string& name : OutgoingFiles(folder, m_strDownPrefix).value_or(std::vector<std::string>{})) {
    if (EndsWith(name, m_strTmpExt) && DeleteFileIfExists(folder + name)) {
      WriteError("Down", "Download cut short by the last run, fetched again: " + folder + name, false);
      found = true;
    }
  }
  if (!found) return;
  m_dtLastUpload = Moment::Now();
  m_blnClearPending = false;
}

void frmTLVFTP::Alert(const std::string& key, const std::string& text) {
  if (!m_alerts.insert(key).second) return;
  ShowState(text, true, true);
  WriteLineNow(STDERR_FILENO, "[" + NowText() + "] " + text);
}

bool frmTLVFTP::DueForAttempt(const std::string& key) const {
  const auto it = m_fileRetries.find(key);
  return it == m_fileRetries.end() || it->second.Due();
}

void frmTLVFTP::Attempted(const std::string& key, bool succeeded) {
  if (succeeded) {
    m_fileRetries.erase(key);
    return;
  }
  ++m_failedAttempts;
  // Names that fail and then vanish are not kept for ever.
  if (m_fileRetries.size() >= 10000) m_fileRetries.clear();
  Backoff& retry = m_fileRetries.try_emplace(key, std::chrono::seconds(1), std::chrono::seconds(60)).first->second;
  if (retry.Failed()) WriteLog("Next attempt at [" + key + "] in " + retry.DelayText());
}

bool frmTLVFTP::Finalize(const std::string& folder, const std::string& tmpPath, const std::string& finalPath) {
  // One step: the older copy is replaced, never missing.
  if (rename(tmpPath.c_str(), finalPath.c_str()) != 0) {
    WriteError("Rename", "重命名文件[" + tmpPath + "]失败;" + std::strerror(errno), false);
    return false;
  }
  // The rename is on disk before the server copy goes.
  int err = 0;
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    err = errno;
  } else {
    if ((FolderFsync ? FolderFsync(fd) : fsync(fd)) != 0) err = errno;
    if (close(fd) != 0 && err == 0) err = errno;
  }
  if (err != 0) {
    WriteError("Down", "Folder not flushed to disk, the server copy stays: [" + finalPath + "]: " + std::strerror(err),
               false);
    return false;
  }
  return true;
}

bool frmTLVFTP::DownloadOne(const std::string& folder, const std::string& remoteFolder, const CFtpFile& entry,
                            size_t j) {
  if (Skipped("Down", remoteFolder, entry, true)) return true;
  const std::string& name = entry.FileName();
  WriteLog("下载文件" + std::to_string(j) + ":[" + remoteFolder + "/" + name + "]");
  ShowState(name + ":开始下载...");
  FtpLibrary& ftp = *m_ftp;
  const std::string finalPath = folder + name;
  const std::string tmpPath = finalPath + m_strTmpExt;
  ftp.SetRemotePath(remoteFolder + "/" + name);
  ftp.SetLocalPath(tmpPath);
  ftp.SetOverWrite(true);
  ftp.SetSyncDownloads(true);  // on disk before the server copy goes
  // The listing's size: a transfer cut short is caught even where the
  // server refuses SIZE. A listed 0 tells the FTP control nothing, so it
  // asks SIZE then.
  ftp.SetExpectedFileSize(entry.FileSize() > 0 ? static_cast<double>(entry.FileSize()) : -1);
  m_strDirection = "DOWN";
  m_blnForced = false;
  bool done = false;
  if (ftp.DownLoad()) {
    ShowState(name + ":下载完成", false, true);
    WriteLog("DOWN:Force=" + Bool(m_blnForced));
    if (!m_blnForced) {
      if (ExistFile(finalPath)) WriteLog("文件[" + finalPath + "]已存在，将删除该文件;");
      // The server copy goes only once the local one holds under its final
      // name, on disk.
      if (Finalize(folder, tmpPath, finalPath)) {
        done = ftp.DeleteFile(ftp.RemotePath());
        ShowState(done ? name + ":删除完成" : name + ":删除失败;" + ftp.ErrorInfo(), false, true);
      }
    }
  } else {
    if (ftp.ErrorNumber() == kErrCanceled) {
      m_blnAbortSent = false;
      WriteError("Down", "SendAbort", false);
    } else {
      ShowState(name + ":下载失败\r\n" + ftp.ErrorInfo(), true);
    }
    if (ftp.TransferSize() > 0) DeleteFileIfExists(tmpPath);
  }
  m_strDirection.clear();
  return done;
}

void frmTLVFTP::ClearRemoteFile(const std::string& remoteFolder) {
  try {
    WriteLog("开始清除上次的文件...");
    m_strDirection = "LIST";
    std::unique_ptr<CFtpFiles> list = m_ftp->GetFtpDirectoryInfo(remoteFolder + "/" + m_strDownPrefix + "*");
    m_strDirection.clear();
    if (!m_blnRunning) return;
    if (list) {
      for (size_t k = 1; k <= list->Count(); ++k) {
        if (!m_blnRunning) return;
        const CFtpFile& entry = *list->Item(k);
        if (!entry.IsDirectory() && !Skipped("ClearRemoteFile", remoteFolder, entry, false)) {
          const std::string& name = entry.FileName();
          ShowState("删除文件" + std::to_string(k) + ":[" + remoteFolder + "/" + name + "]");
          if (m_ftp->DeleteFile(remoteFolder + "/" + name)) {
            ShowState(name + ":删除完成", false, true);
          } else {
            ShowState(name + ":删除失败;" + m_ftp->ErrorInfo(), false, true);
          }
        }
        m_dtLastActive = Moment::Now();
        CurrentLoop().Pump();
      }
    } else {
      const long number = m_ftp->ErrorNumber();
      if (number == 0) {
        ShowState(remoteFolder + ":没有需要清除的文件!", false, true);
      } else if (number != kErrCanceled) {
        ShowState(remoteFolder + ":发生错误!\r\n" + m_ftp->ErrorInfo(), true);
      }
    }
    WriteLog("清除完成.");
  } catch (const std::exception& e) {
    WriteError("ClearRemoteFile", e.what(), false);
  }
}

std::string frmTLVFTP::CutUploadPath() const {
  // A STOR that was refused or never sent put nothing there.
  const std::string& path = m_ftp->RemotePath();
  if (!m_ftp->StorMayHaveWritten()) return "";
  return m_settings.directUploads ? path : FtpLibrary::TempUploadPath(path);
}

void frmTLVFTP::ClearLeftoverUploads(const std::string& remoteFolder) {
  if (m_settings.directUploads || !m_leftoversCleared.insert(remoteFolder).second) return;
  m_strDirection = "LIST";
  std::unique_ptr<CFtpFiles> list =
      m_ftp->GetFtpDirectoryInfo(remoteFolder + "/" + FtpLibrary::TempUploadName(m_strUpPrefix + "*"));
  m_strDirection.clear();
  // A listing that failed is asked for again before the next upload.
  if (!list && m_ftp->ErrorNumber() != 0) m_leftoversCleared.erase(remoteFolder);
  for (size_t k = 1; list && k <= list->Count() && m_blnRunning; ++k) {
    const CFtpFile& entry = *list->Item(k);
    const std::string path = remoteFolder + "/" + entry.FileName();
    if (!entry.IsDirectory() && !Skipped("ClearLeftoverUploads", remoteFolder, entry, false)) {
      WriteLog(m_ftp->DeleteFile(path) ? "Leftover upload deleted: [" + path + "]"
                                       : "Leftover upload not deleted: [" + path + "];" + m_ftp->ErrorInfo());
    }
  }
}

void frmTLVFTP::FtpLibrary1_OnTransfer() {
  m_dtLastActive = Moment::Now();
  FtpLibrary& ftp = *m_ftp;
  WriteLog(std::to_string(ftp.Percent()) + "(" + Whole(ftp.TransferSize()) + "/" + Whole(ftp.FileSize()) + ")");
  if (m_strDirection == "UP") {
    ShowState("正在上传[" + ftp.GetFileName(ftp.LocalPath()) + "]...");
  } else if (m_strDirection == "DOWN") {
    ShowState("正在下载[" + ftp.GetFileName(ftp.RemotePath()) + "]...");
  }
}

}  // namespace pellan::client
