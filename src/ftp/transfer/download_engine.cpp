// Downloads. DownLoad splits the job into folders and files,
// the folder walk lists remote folders, the queue takes file after file,
// and DownLoadOne fetches one file: it counts as fetched only when the data
// connection has closed, the server has confirmed it, and (binary, size
// known) every byte is on disk.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ftp/remote/ftp_file.h"
#include "ftp/session/reply_parser.h"
#include "ftp/transfer/ftp_transfers.h"
#include "ftp/transfer/job_lists.h"
#include "ftp/transfer/transfer_run.h"
#include "platform/code_page.h"
#include "support/error_record.h"
#include "support/file.h"
#include "support/text.h"

namespace pellan {

bool FtpTransfers::DownLoad(bool createFolder) {
  bool result = false;
  const double hostFileSize = m_hostFileSize;
  m_hostFileSize = -1;
  try {
    if (TrimBlanks(m_remotePath).empty()) Raise(kErrNoRemotePath);
    if (TrimBlanks(m_localPath).empty()) Raise(kErrNoLocalPath);
    if (Connect()) {
      JobStop stop;
      const ScopedPointer<JobStop> currentJob(m_stop, &stop);
      const JobItems job = SplitJob(CFile().FormatFTPPath(m_remotePath), CFile().FormatPath(m_localPath));
      for (const JobItem& file : job.files) CheckFileType(GetFileExtendName(GetFileName(file.source)));
      std::vector<double> sizes;
      if (hostFileSize >= 0 && job.folders.empty() && job.files.size() == 1) sizes = {hostFileSize};
      result = RunJob(
          job, [&](const SubJob& folders) { return DownLoadFolders(folders, createFolder); },
          [&](const SubJob& files) { return DownLoadQueue(files, createFolder); }, false, sizes);
    }
  } catch (const Raised& r) {
    if (!r.reported) ReportError("DownLoad", r.number, r.description);
    result = false;
  }
  m_canceledFileList.clear();
  return result;
}

bool FtpTransfers::RunJob(const JobItems& job, const std::function<bool(const SubJob&)>& folders,
                          const std::function<bool(const SubJob&)>& queue, bool queueNeedsNoError,
                          std::vector<double> fileSizes) {
  bool result = false, failed = false;
  if (!job.folders.empty()) {
    failed = !folders(SubJob{job.FolderSources(), job.FolderTargets(), {}});
    if (!failed && job.files.empty()) result = true;
  }
  if (!job.files.empty() && !failed) {
    result = queue(SubJob{job.FileSources(), job.FileTargetsOr(job.FolderTargets()), std::move(fileSizes)}) &&
             (!queueNeedsNoError || ErrorNumber() == 0);
  }
  return result;
}

bool FtpTransfers::DownLoadFolders(const SubJob& job, bool createFolder) {
  const std::vector<std::string>& remoteItems = job.sources;
  const std::vector<std::string>& localItems = job.targets;
  if (m_lngOperation == kOpDownload || m_lngOperation == kOpUpload) Raise(kErrOperationUnfinished);
  if (remoteItems.empty()) Raise(kErrNoRemotePath);
  if (localItems.empty() || TrimBlanks(localItems.front()).empty()) Raise(kErrNoLocalPath);
  std::string localFolder = CFile().FormatPath(localItems.front());
  while (localFolder.size() > 1 && localFolder.back() == '/') localFolder.pop_back();
  if (!LocalFolderExists(localFolder) && !CFile().CreateFolder(localFolder)) return false;

  for (const std::string& item : remoteItems) {
    // The folder of the item: the item itself, or a pattern's folder.
    std::string base = item;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    if (HasWildcard(LastPathPart(base))) base = ParentPath(base);
    std::unique_ptr<CFtpFiles> files = GetFtpDirectoryInfo(item);
    if (!files) {
      if (ErrorNumber() != 0) return false;
      continue;  // an empty folder
    }
    std::vector<std::string> fileList;
    std::vector<double> sizes;
    for (const CFtpFile& entry : *files) {
      const std::string& name = entry.FileName();
      // A listed name is data, never a path, and is used exactly as listed:
      // paths are trimmed on their way to the server, so a name with outer
      // blanks would fetch another file.
      if (!IsSafeLocalFileName(name) || TrimBlanks(name) != name) {
        LogLine("DownLoadAll skips an unsafe name: " + name);
        continue;
      }
      // A link's listed size is that of its text, and its target may be a
      // folder or lie outside the tree.
      if (!entry.Permissions().empty() && entry.Permissions()[0] == 'l') {
        LogLine("DownLoadAll skips a link: " + name);
        continue;
      }
      const std::string remote = (base == "/" ? std::string() : base) + "/" + name;
      if (entry.IsDirectory()) {
        if (!DownLoadFolders(SubJob{{remote + "/"}, {localFolder + "/" + name + "/"}, {}}, createFolder)) return false;
      } else {
        fileList.push_back(remote);
        sizes.push_back(static_cast<double>(entry.FileSize()));
      }
    }
    if (!fileList.empty() && !DownLoadQueue(SubJob{fileList, {localFolder + "/"}, sizes}, createFolder)) return false;
  }
  return true;
}

bool FtpTransfers::DownLoadQueue(const SubJob& job, bool createFolder) {
  const std::vector<std::string>& remoteItems = job.sources;
  const std::vector<std::string>& localItems = job.targets;
  const std::vector<double>& sizes = job.sizes;
  m_queueTotal = static_cast<long>(remoteItems.size());
  std::string targetFolder;
  for (size_t i = 0; i < remoteItems.size(); ++i) {
    m_queueIndex = static_cast<long>(i + 1);
    const std::string remote = TrimBlanks(remoteItems[i]);
    if (remote.empty()) continue;
    std::string targetFile;
    if (i < localItems.size() && !TrimBlanks(localItems[i]).empty()) {
      const std::string local = CFile().FormatPath(TrimBlanks(localItems[i]));
      if (local.back() == '/' || LocalFolderExists(local)) {
        targetFolder = local;
        while (targetFolder.size() > 1 && targetFolder.back() == '/') targetFolder.pop_back();
      } else {
        targetFile = local;
        targetFolder = CFile().GetParentFolderPath(local);
      }
    }
    if (!targetFolder.empty() && !LocalFolderExists(targetFolder)) {
      if (!createFolder) {
        Raise(kErrLocalFolderMissing,
              ErrorMessages::Fill(m_messages.GetErrorMessage(kErrLocalFolderMissing), {targetFolder}));
      }
      if (!CFile().CreateFolder(targetFolder)) return false;
    }
    std::string localPath = targetFile;
    if (localPath.empty()) {
      const std::string name = GetFileName(remote);
      if (targetFolder.empty() || !IsSafeLocalFileName(name)) {
        Raise(kErrNoSavePath, ErrorMessages::Fill(m_messages.GetErrorMessage(kErrNoSavePath), {remote}));
      }
      localPath = (targetFolder == "/" ? std::string() : targetFolder) + "/" + name;
    }
    m_retryCount = 1;
    m_localPath = CFile().FormatPath(localPath);
    m_remotePath = CFile().FormatFTPPath(remote);
    const bool ok = DownLoadOne(createFolder, i < sizes.size() ? sizes[i] : -1);
    if (!ok) {
      m_transferState.clear();
      throw Raised{ErrorNumber(), ErrorInfo(), true};
    }
    StopJobIfAsked();
  }
  return true;
}

bool FtpTransfers::DownLoadOne(bool createFolder, double knownSize) {
  TransferRun run(false, 0);
  const ScopedPointer<TransferRun> current(m_transfer, &run);
  // The data socket may read into the run: never past it.
  struct DetachSink {
    CSocket& socket;
    ~DetachSink() { socket.SetReceiveSink(nullptr); }
  } detach{m_objDataSocket};
  try {
    SharedErrorRecord().Clear();
    if (m_lngOperation != kOpNone) {
      m_retryCount = m_reDoTimes;
      Raise(kErrOperationUnfinished);
    }
    m_percent = 0;
    m_fileSize = 0;
    if (m_retryCount < 2) m_retryCount = 1;
    double localSize = 0;
    if (!LocalFileExists(m_localPath)) {
      if (m_localPath.empty() || m_localPath.front() != '/') {
        m_retryCount = m_reDoTimes;
        Raise(kErrInvalidPath, ErrorMessages::Fill(m_messages.GetErrorMessage(kErrInvalidPath), {m_localPath}));
      }
      const std::string parent = CFile().GetParentFolderPath(m_localPath);
      if (!LocalFolderExists(parent.empty() ? std::string("/") : parent)) {
        m_retryCount = m_reDoTimes;
        Raise(kErrLocalFolderMissing, ErrorMessages::Fill(m_messages.GetErrorMessage(kErrLocalFolderMissing), {parent}));
      }
    } else if (!m_overWrite) {
      localSize = GetLocalFileSize(m_localPath);  // resume
    }

    // The size the file should have: from the listing, or asked with SIZE.
    double expected = knownSize;
    if (expected < 0) {
      const ScopedCount quiet(m_quietProbe);
      expected = GetRemoteFileSize(m_remotePath);
      SharedErrorRecord().Clear();  // RETR gives the real answer
    }
    if (expected < 0) expected = 0;
    if (m_maxSize > 0 && expected > m_maxSize) {
      m_retryCount = m_reDoTimes;
      Raise(kErrFileTooBig, ErrorMessages::Fill(m_messages.GetErrorMessage(kErrFileTooBig), {SizeLimitText()}));
    }
    const bool binary = m_transferMode != 0;
    if (binary && expected > 0 && localSize == expected) {
      // Complete already (an earlier attempt got every byte).
      m_fileSize = expected;
      m_percent = 100;
      m_transferSize = expected;
      RaiseTransfer();
      return true;
    }
    if (binary && expected > 0 && localSize > expected) {
      m_retryCount = m_reDoTimes;
      Raise(kErrLocalFileLarger, "The local file [ " + m_localPath + " ] is longer than the remote file; it is left as it is");
    }
    run.expectedSize = expected;
    m_fileSize = expected;
    run.bytesDone = localSize;
    run.lastSample = CurrentClock().Now();
    m_objDataSocket.SetChunkSize(m_chunkSize);
    SetOperation(kOpDownload);
    if (SendFtpCommand("TYPE", binary ? "I" : "A")) WaitWhileTransferring(kOpDownload);
    if (ErrorNumber() != 0) Raise(ErrorNumber(), ErrorInfo());
    if (!run.confirmed) {
      // The session ended (the server closed it) before the file was confirmed.
      Raise(kErrConnectionInterrupted, m_messages.GetErrorMessage(kErrConnectionInterrupted));
    }
    m_transferSize = run.expectedSize > 0 ? run.expectedSize : run.bytesDone;
    m_retryCount = 1;
    m_speed = 0;
    m_leftTime = 0;
    RaiseTransfer();
    return true;
  } catch (const Raised& r) {
    return RetryFile(r, false, [&] { return DownLoadOne(createFolder, knownSize); });
  }
}

void FtpTransfers::WriteDownloadedData() {
  if (m_transfer == nullptr) return;
  ByteSink& received = m_transfer->received;
  // Anything that came through the socket's slot instead joins it.
  std::string slot;
  if (m_objDataSocket.GetData(slot, VarType::kByteArray)) received.Append(slot);
  if (received.Empty()) return;
  const std::string_view bytes = received.View();
  m_transferState.clear();
  if (!PrepareDownloadTarget()) return;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(m_transfer->localFile, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // The disk took no more (full, gone): the file fails here.
      const int err = errno;
      CloseDataConnection();
      CloseLocalFile();
      RaiseError("DownLoadOne", kErrOpenLocalFile,
                 ErrorMessages::Fill(m_messages.GetErrorMessage(kErrOpenLocalFile), {m_localPath}) + " " +
                     std::strerror(err));
      return;
    }
    done += static_cast<size_t>(n);
  }
  m_transfer->bytesDone += static_cast<double>(bytes.size());
  received.Clear();  // the room stays for the next chunk
  const double size = m_transfer->expectedSize > 0 ? m_transfer->expectedSize : m_transfer->bytesDone + 1;
  UpdateProgress(m_transfer->bytesDone, size, true);
}

void FtpTransfers::FinishDownloadWhenComplete() {
  if (m_lngOperation != kOpDownload || m_transfer == nullptr || !m_transfer->dataClosed || !m_transfer->replyDone) return;
  const bool sizeKnown = m_transferMode != 0 && m_transfer->expectedSize > 0;
  if (sizeKnown && m_transfer->bytesDone != m_transfer->expectedSize) {
    CloseLocalFile();
    RaiseError("DownLoadOne", kErrIncompleteTransfer,
               "The server sent " + std::to_string(static_cast<long long>(m_transfer->bytesDone)) + " of " +
                   std::to_string(static_cast<long long>(m_transfer->expectedSize)) + " bytes of [ " + m_remotePath + " ]");
    EndOperation();
    return;
  }
  // A confirmed empty file is created only now.
  if (!PrepareDownloadTarget()) {
    EndOperation();
    return;
  }
  // The file counts only once the disk has taken it.
  const char* failed = nullptr;
  int err = 0;
  if (m_syncDownloads && fsync(m_transfer->localFile) != 0) {
    failed = "fsync";
    err = errno;
  }
  const int fd = m_transfer->localFile;
  m_transfer->localFile = -1;
  if (close(fd) != 0 && failed == nullptr) {
    failed = "close";
    err = errno;
  }
  if (failed != nullptr) {
    RaiseError("DownLoadOne", kErrOpenLocalFile,
               ErrorMessages::Fill(m_messages.GetErrorMessage(kErrOpenLocalFile), {m_localPath}) + " " + failed +
                   ": " + std::strerror(err));
    EndOperation();
    return;
  }
  m_transfer->confirmed = true;
  EndOperation();
}

}  // namespace pellan
