// frmTLVFTP: the folder pass, the work the client exists for. Outgoing "T"
// files go up into the remote folder named like the local one and are then
// deleted locally; for 120 seconds after the last upload, incoming "R" files
// come down through a ".tmp" name and are then deleted on the server. Before
// the first upload of a new batch the remote folder is emptied of old "R"
// files. No file leaves one side before the other holds all of it.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>

#include "client/client_files.h"
#include "client/main_window.h"
#include "ftp/remote/ftp_file.h"
#include "platform/code_page.h"

namespace pellan::client {

namespace {

std::string OnDisk(const std::string& path) { return EncodeText(path, ProcessCodePage()); }

// Regular files of `folder` whose names start with `prefix`, in byte order:
// the list is taken once, so files that arrive later wait for the next pass.
std::vector<std::string> OutgoingFiles(const std::string& folder, const std::string& prefix) {
  std::vector<std::string> names;
  DIR* dir = opendir(OnDisk(folder).c_str());
  if (!dir) return names;
  while (dirent* e = readdir(dir)) {
    const std::string name = DecodeText(e->d_name, ProcessCodePage());
    if (name.empty() || name[0] == '.' || name.compare(0, prefix.size(), prefix) != 0) continue;
    struct stat st {};
    if (lstat(OnDisk(folder + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

// What a file looked like: an upload deletes it only when it is unchanged.
struct FileStamp {
  bool ok = false;
  off_t size = 0;
  timespec mtime{};
  bool operator==(const FileStamp& o) const {
    return ok && o.ok && size == o.size && mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
  }
};

FileStamp StampOf(const std::string& path) {
  FileStamp s;
  struct stat st {};
  if (stat(OnDisk(path).c_str(), &st) == 0) {
    s.ok = true;
    s.size = st.st_size;
    s.mtime = st.st_mtim;
  }
  return s;
}

// Flushes a folder's entries (a rename in it) to disk.
void SyncFolder(const std::string& folder) {
  const int fd = open(OnDisk(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
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
      return;
    }
    std::string folder = NormalizePath(folderIn);
    if (folder.empty() || folder.back() != '/') folder += "/";
    WriteLog("------------------");
    const std::string remoteFolder = GetFolderName(folder);
    WriteLog("开始上传[" + folder + "]中的文件");
    const std::vector<std::string> uploads = OutgoingFiles(folder, m_strUpPrefix);
    for (size_t k = 0; k < uploads.size(); ++k) {
      if (!m_blnRunning) return;
      UploadOne(folder, remoteFolder, uploads[k], k + 1);
      m_dtLastActive = Moment::Now();
      CurrentLoop().Pump();
    }

    // Replies come shortly after an upload: look for them for 120 seconds.
    const Moment now = Moment::Now();
    if (SecondBoundaries(m_dtLastUpload, now) > 120) {
      m_blnClearPending = true;
      WriteLog("Waiting...|" + m_dtLastUpload.Text() + "|" + now.Text());
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
      }
      return;
    }
    for (size_t j = 1; j <= list->Count(); ++j) {
      if (!m_blnRunning) return;
      const CFtpFile& entry = *list->Item(j);
      if (!entry.IsDirectory()) DownloadOne(folder, remoteFolder, entry.FileName(), j);
      m_dtLastActive = Moment::Now();
      CurrentLoop().Pump();
    }
  } catch (const std::exception& e) {
    WriteError("ScanFolder", e.what(), false);
  }
}

void frmTLVFTP::UploadOne(const std::string& folder, const std::string& remoteFolder, const std::string& name,
                          size_t k) {
  WriteLog("上传文件" + std::to_string(k) + ":[" + name + "]" + std::to_string(LocalFileSize(folder + name)));
  // The type test looks for the last three characters anywhere in the list.
  const std::string last3 = name.size() >= 3 ? name.substr(name.size() - 3) : name;
  std::string lower = last3;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (m_strTypeList.find(lower) == std::string::npos) {
    WriteLog("Type mismatch:[" + m_strTypeList + "#" + last3 + "]");
    return;
  }
  if (m_blnClearPending) {
    ClearRemoteFile(remoteFolder);
    m_blnClearPending = false;
  }
  ShowState(name + ":开始上传...");
  FtpLibrary& ftp = *m_ftp;
  const std::string localPath = folder + name;
  // The companion may still be writing the file: it is deleted only if it
  // did not change while it went up.
  const FileStamp before = StampOf(localPath);
  ftp.SetLocalPath(localPath);
  ftp.SetRemotePath(remoteFolder + "/" + name);
  ftp.SetOverWrite(true);
  m_strDirection = "UP";
  m_blnForced = false;
  if (ftp.UpLoad()) {
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
    // Whatever the server took under the final name is not the whole file,
    // even when nothing was counted yet (STOR has already created it).
    ftp.DeleteFile(ftp.RemotePath());
  }
  m_strDirection.clear();
}

void frmTLVFTP::DownloadOne(const std::string& folder, const std::string& remoteFolder, const std::string& name,
                            size_t j) {
  // A listed name is data: it must be a plain file name here, and not one
  // whose final name would be another download's temporary name.
  const bool unsafe = !IsSafeLocalFileName(name);
  if (unsafe || (name.size() >= m_strTmpExt.size() &&
                 name.compare(name.size() - m_strTmpExt.size(), m_strTmpExt.size(), m_strTmpExt) == 0)) {
    // Said once per name and run, not on every pass.
    if (m_skippedNames.insert(remoteFolder + "/" + name).second) {
      WriteError("Down", std::string(unsafe ? "Unsafe name" : "Temporary name") + " skipped: [" + remoteFolder + "/" +
                             name + "]", false);
    }
    return;
  }
  WriteLog("下载文件" + std::to_string(j) + ":[" + remoteFolder + "/" + name + "]");
  ShowState(name + ":开始下载...");
  FtpLibrary& ftp = *m_ftp;
  const std::string finalPath = folder + name;
  const std::string tmpPath = finalPath + m_strTmpExt;
  ftp.SetRemotePath(remoteFolder + "/" + name);
  ftp.SetLocalPath(tmpPath);
  ftp.SetOverWrite(true);
  ftp.SetSyncDownloads(true);  // on disk before the server copy goes
  m_strDirection = "DOWN";
  m_blnForced = false;
  if (ftp.DownLoad()) {
    ShowState(name + ":下载完成", false, true);
    WriteLog("DOWN:Force=" + Bool(m_blnForced));
    if (!m_blnForced) {
      if (ExistFile(finalPath)) WriteLog("文件[" + finalPath + "]已存在，将删除该文件;");
      // One step: the older copy is replaced, never missing.
      if (rename(OnDisk(tmpPath).c_str(), OnDisk(finalPath).c_str()) != 0) {
        WriteError("Rename", "重命名文件[" + tmpPath + "]失败;" + std::strerror(errno), false);
      } else {
        SyncFolder(folder);
        if (ftp.DeleteFile(ftp.RemotePath())) {
          ShowState(name + ":删除完成", false, true);
        } else {
          ShowState(name + ":删除失败;" + ftp.ErrorInfo(), false, true);
        }
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
        if (!entry.IsDirectory()) {
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
