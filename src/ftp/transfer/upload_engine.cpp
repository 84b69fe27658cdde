// Uploads. UpLoad splits the job into folders and files, the
// folder walk lists local folders, the queue takes file after file, and
// UpLoadOne sends one file. A file counts as sent only when the server has
// confirmed it after every byte went out. Its size on the server proves
// nothing: a server may keep the old copy, of the same size, until a new
// upload completes. With UploadTempName, the file is renamed into place
// only after that.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>

#include "ftp/session/reply_parser.h"
#include "ftp/transfer/ftp_transfers.h"
#include "ftp/transfer/job_lists.h"
#include "ftp/transfer/transfer_run.h"
#include "platform/code_page.h"
#include "support/error_record.h"
#include "support/file.h"
#include "support/text.h"

namespace pellan {

namespace {

constexpr int64_t kTlsRecordBytes = 16384;  // the most a TLS record carries

struct LocalEntry {
  std::string path;
  bool isFolder;
};

// One level of a local folder ("/in/") or the files matching a pattern
// ("/in/*.txt"): regular files and real folders only, names in byte order.
std::vector<LocalEntry> ListLocalFolder(const std::string& item) {
  std::string folder = item, pattern;
  if (HasWildcard(LastPathPart(item))) {
    pattern = LastPathPart(item);
    folder = ParentPath(item);
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::vector<LocalEntry> entries;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(EncodeText(folder, ProcessCodePage()), ec)) {
    const std::string name = DecodeText(e.path().filename().string(), ProcessCodePage());
    const auto status = e.symlink_status(ec);
    const bool isFolder = std::filesystem::is_directory(status);
    if (!isFolder && !std::filesystem::is_regular_file(status)) continue;
    if (!pattern.empty() && (isFolder || !MatchesPattern(name, pattern))) continue;
    entries.push_back({(folder == "/" ? std::string() : folder) + "/" + name, isFolder});
  }
  std::sort(entries.begin(), entries.end(), [](const LocalEntry& a, const LocalEntry& b) { return a.path < b.path; });
  return entries;
}

}  // namespace

std::string FtpTransfers::TempUploadPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string name = TempUploadName(path.substr(slash + 1));
  return name.size() > 255 ? std::string() : path.substr(0, slash + 1) + name;
}

bool FtpTransfers::UpLoad(bool createFolder) {
  bool result = false;
  m_storAccepted = false;
  m_storUnanswered = false;
  try {
    if (Connect()) {
      JobStop stop;
      const ScopedPointer<JobStop> currentJob(m_stop, &stop);
      m_abortedFileList.clear();
      if (TrimBlanks(m_remotePath).empty()) m_remotePath = m_currentDirectory + "/";
      if (TrimBlanks(m_localPath).empty()) Raise(kErrNoLocalPath);
      const JobItems job = SplitJob(CFile().FormatPath(m_localPath), CFile().FormatFTPPath(m_remotePath));
      for (const JobItem& file : job.files) CheckFileType(GetFileExtendName(file.source));
      // Folders of a tree are made as the walk reaches them.
      result = RunJob(
          job, [&](const SubJob& folders) { return UpLoadFolders(folders); },
          [&](const SubJob& files) { return UpLoadQueue(files, createFolder); }, true, {});
    }
  } catch (const Raised& r) {
    if (!r.reported) ReportError("UpLoad", r.number, r.description);
    result = false;
  }
  m_canceledFileList.clear();
  return result;
}

bool FtpTransfers::UpLoadFolders(const SubJob& job) {
  const std::vector<std::string>& localItems = job.sources;
  const std::vector<std::string>& remoteItems = job.targets;
  if (m_lngOperation == kOpDownload || m_lngOperation == kOpUpload) Raise(kErrOperationUnfinished);
  if (localItems.empty()) Raise(kErrNoLocalPath);
  if (remoteItems.empty() || TrimBlanks(remoteItems.front()).empty()) Raise(kErrNoRemotePath);
  std::string remoteFolder = CFile().FormatFTPPath(remoteItems.front());
  while (remoteFolder.size() > 1 && remoteFolder.back() == '/') remoteFolder.pop_back();
  if (remoteFolder != "/" && !CreateDirectory(remoteFolder, true)) return false;
  const std::string prefix = remoteFolder == "/" ? std::string() : remoteFolder;

  for (const std::string& item : localItems) {
    std::vector<std::string> files;
    for (const LocalEntry& entry : ListLocalFolder(item)) {
      if (entry.isFolder) {
        if (!UpLoadFolders(SubJob{{entry.path + "/"}, {prefix + "/" + LastPathPart(entry.path) + "/"}, {}})) return false;
      } else {
        files.push_back(entry.path);
      }
    }
    if (!files.empty() && !UpLoadQueue(SubJob{files, {prefix + "/"}, {}}, false)) return false;
  }
  return true;
}

bool FtpTransfers::UpLoadQueue(const SubJob& job, bool createFolder) {
  const std::vector<std::string>& localItems = job.sources;
  const std::vector<std::string>& remoteItems = job.targets;
  const std::string savedRemotePath = m_remotePath;
  m_queueTotal = static_cast<long>(localItems.size());
  for (size_t i = 0; i < localItems.size(); ++i) {
    m_queueIndex = static_cast<long>(i + 1);
    const std::string local = TrimBlanks(localItems[i]);
    if (local.empty()) continue;
    m_canceledFileList += "|";
    if (m_canceledFileList.find("|" + local + "|") != std::string::npos) {
      LogLine("Skip upload:" + local + "#[" + m_canceledFileList + "]");
      continue;
    }
    std::string remote;
    if (remoteItems.size() == 1 && !remoteItems[0].empty() && remoteItems[0].back() == '/') {
      remote = remoteItems[0] + "/" + GetFileName(local);
    } else if (i < remoteItems.size()) {
      remote = TrimBlanks(remoteItems[i]);
      if (!remote.empty() && remote.back() == '/') remote += GetFileName(local);
    }
    if (remote.empty()) {
      Raise(kErrNoSavePath, ErrorMessages::Fill(m_messages.GetErrorMessage(kErrNoSavePath), {local}));
    }
    m_localPath = CFile().FormatPath(local);
    m_remotePath = CFile().FormatFTPPath(remote);
    m_retryCount = 1;
    if (!UpLoadOne(createFolder, m_uploadTempName && !m_renameRefused ? TempUploadPath(m_remotePath) : "")) {
      m_transferState.clear();
      if (ErrorNumber() == kErrCanceled && m_stop->fileOnly) {
        // Only this file was cancelled: note it and go on with the next.
        *m_stop = JobStop{};
        m_abortedFileList += "|" + m_localPath;
        RaiseError("UpLoadAll_AbortCurrent[" + m_localPath + "]", ErrorNumber(), ErrorInfo());
        continue;
      }
      throw Raised{ErrorNumber(), ErrorInfo(), true};
    }
    m_transferState.clear();
    StopJobIfAsked();
  }
  m_remotePath = savedRemotePath;
  return true;
}

bool FtpTransfers::UpLoadOne(bool createFolder, const std::string& tempPath) {
  TransferRun run(true, 0);
  run.storPath = tempPath.empty() ? m_remotePath : tempPath;
  const ScopedPointer<TransferRun> current(m_transfer, &run);
  try {
    SharedErrorRecord().Clear();
    if (m_lngOperation != kOpNone) {
      m_retryCount = m_reDoTimes;
      Raise(kErrOperationUnfinished);
    }
    if (m_remotePath.empty()) {
      m_retryCount = m_reDoTimes;
      Raise(kErrNoRemotePath);
    }
    if (m_localPath.empty()) {
      m_retryCount = m_reDoTimes;
      Raise(kErrNoLocalPath);
    }
    if (!LocalFileExists(m_localPath)) {
      m_retryCount = m_reDoTimes;
      Raise(kErrLocalFileMissing, ErrorMessages::Fill(m_messages.GetErrorMessage(kErrLocalFileMissing), {m_localPath}));
    }
    m_percent = 0;
    m_transferSize = 0;
    m_fileSize = GetLocalFileSize(m_localPath);
    if (m_retryCount < 2) m_retryCount = 1;
    if (m_maxSize > 0 && m_fileSize > m_maxSize) {
      m_retryCount = m_reDoTimes;
      Raise(kErrFileTooBig, ErrorMessages::Fill(m_messages.GetErrorMessage(kErrFileTooBig), {SizeLimitText()}));
    }
    if (createFolder) {
      const std::string folder = CFile().FormatFTPPath(ParentPath(m_remotePath));
      if (!folder.empty() && folder != "/") {
        bool made = false;
        {
          const ScopedCount quiet(m_quietProbe);
          made = CreateDirectory(folder, true);
        }
        if (!made) {
          LogLine("CreateDirectory Error -- " + folder);
          SharedErrorRecord().Clear();
        }
      }
    }
    run.lastSample = CurrentClock().Now();
    m_objDataSocket.SetChunkSize(m_chunkSize);
    SetOperation(kOpUpload);
    if (SendFtpCommand("TYPE", m_transferMode == 0 ? "A" : "I")) WaitWhileTransferring(kOpUpload);
    if (ErrorNumber() != 0) Raise(ErrorNumber(), ErrorInfo());
    if (!run.confirmed) Raise(kErrTimedOut, m_messages.GetErrorMessage(kErrTimedOut));
    if (!tempPath.empty() && !PutInPlace(tempPath, m_remotePath)) return UpLoadOne(createFolder, "");
    m_transferSize = m_fileSize;
    m_retryCount = 1;
    m_speed = 0;
    m_leftTime = 0;
    RaiseTransfer();
    return true;
  } catch (const Raised& r) {
    // The folder remembered as made may have been removed on the server
    // since: forget it, so the next attempt (or job) makes it again.
    bool forgot = false;
    if (r.number == kErrReplyBase + 550 || r.number == kErrReplyBase + 553) {
      std::string folder = CFile().FormatFTPPath(ParentPath(m_remotePath));
      while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
      if (!folder.empty() && folder != "/") forgot = ForgetCreatedDirectory(folder, true);
    }
    return RetryFile(r, true, [&] { return UpLoadOne(createFolder || forgot, tempPath); });
  }
}

bool FtpTransfers::PutInPlace(const std::string& temp, const std::string& finalPath) {
  const ScopedCount quiet(m_quietProbe);
  // A refusal (5xx) is answered here; anything else (a time-out, a lost
  // session, a 4xx) fails the attempt, and the retry sends the file again.
  const auto refusal = [this] {
    const long number = ErrorNumber();
    if (number < kErrReplyBase + 500 || number > kErrReplyBase + 599) Raise(number, ErrorInfo());
    return number - kErrReplyBase;
  };
  if (RenameFile(temp, finalPath)) return true;
  const long code = refusal();
  if (m_strLastCommand == "RNTO") {
    // Perhaps no rename onto an existing file: neither name holds the file
    // for one round trip.
    LogLine("UpLoadOne: replacing [" + finalPath + "] (" + std::to_string(code) + " to RNTO)");
    if (DeleteFile(finalPath) && RenameFile(temp, finalPath)) return true;
    refusal();
  }
  LogLine("UpLoadOne: the server renames nothing (" + std::to_string(code) +
          "): files go up under their final names for the rest of this session");
  m_renameRefused = true;
  DeleteFile(temp);
  SharedErrorRecord().Clear();
  return false;
}

void FtpTransfers::StartUploadWhenReady() {
  TransferRun* run = m_transfer;
  if (m_lngOperation != kOpUpload || run == nullptr || !run->dataReady || !run->storAccepted ||
      run->CurrentStep() == TransferRun::Step::kSending) {
    return;
  }
  run->MoveTo(TransferRun::Step::kSending);
  UploadData();
}

void FtpTransfers::UploadData() {
  if (m_lngOperation != kOpUpload || m_transfer == nullptr || m_transfer->localFile < 0) return;
  if (m_transfer->bytesDone < m_fileSize) {
    const double left = m_fileSize - m_transfer->bytesDone;
    size_t block = static_cast<size_t>(std::min<double>(left, m_sendBlockSize));
    if (m_objDataSocket.TlsActive() && static_cast<double>(block) < left) {
      // Servers write each TLS record's bytes as they come, 16 KiB at a
      // time. Blocks that end on a 16 KiB file offset keep those writes
      // aligned: unaligned ones cost the server's page cache twice the
      // allocations, and an upload over TLS is bound by the server.
      const auto done = static_cast<int64_t>(m_transfer->bytesDone);
      const int64_t end = (done + static_cast<int64_t>(block)) / kTlsRecordBytes * kTlsRecordBytes;
      if (end > done) block = static_cast<size_t>(end - done);
    }
    m_transfer->sendBuffer.resize(block);
    const ssize_t n = pread(m_transfer->localFile, m_transfer->sendBuffer.data(), block, static_cast<off_t>(m_transfer->bytesDone));
    if (n <= 0) {
      // The file shrank or went away while it was being sent.
      CloseDataConnection();
      CloseLocalFile();
      RaiseError("UploadData", kErrOpenLocalFile,
                 ErrorMessages::Fill(m_messages.GetErrorMessage(kErrOpenLocalFile), {m_localPath}));
      return;
    }
    m_transfer->bytesDone += static_cast<double>(n);
    m_objDataSocket.SendBytes(m_transfer->sendBuffer.data(), static_cast<size_t>(n));
    return;
  }
  // All of it is out: closing our side tells the server the file is whole.
  CloseLocalFile();
  m_objDataSocket.CloseSocket();
  m_transferSize = m_transfer->bytesDone;
}

void FtpTransfers::DataSendComplete() {
  if (m_lngOperation != kOpUpload || m_transfer == nullptr) return;
  m_dtLastActivity = CurrentClock().Now();
  const int64_t seconds =
      std::chrono::duration_cast<std::chrono::seconds>(CurrentClock().Now() - m_transfer->lastSample).count();
  double block = m_sendBlockSize;
  if (seconds < 1) {
    if (block <= 10240 || block < 30720) {
      block *= 2;
    } else if (block < 51200) {
      block *= 1.8;
    } else if (block < 204800) {
      block *= 1.5;
    } else {
      block *= 1.2;
    }
  }
  block = std::min<double>(std::round(block), m_chunkSize);
  if (seconds > 1 && block > 5120) block = std::round(block * 4 / 5);
  m_sendBlockSize = static_cast<long>(block);
  UpdateProgress(m_transfer->bytesDone, m_fileSize, false);
  UploadData();
}

}  // namespace pellan
