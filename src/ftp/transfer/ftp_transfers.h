// FtpTransfers: downloads and uploads of files, folders and patterns, on
// top of the remote layer (which lists the folders they walk): the jobs,
// the queue of files, one attempt at a file with its retries, the transfer
// watchdog, progress, and the local side of a transfer.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ftp/remote/ftp_remote.h"

namespace pellan {

struct JobItems;
class TransferRun;

class FtpTransfers : public FtpRemote {
 public:
  FtpTransfers();
  ~FtpTransfers() override;

  // ---- events
  std::function<void()> OnTransfer;

  // ---- transfer properties
  bool OverWrite() const { return m_overWrite; }
  void SetOverWrite(bool v);
  bool ReplacePrompt() const { return m_replacePrompt; }
  void SetReplacePrompt(bool v) { m_replacePrompt = v; }
  long TransferMode() const { return m_transferMode; }
  void SetTransferMode(long v) { m_transferMode = v; }
  void SetReDoTimes(long times) { m_reDoTimes = times < 1 ? 1 : times; }
  long ReDoTimes() const { return m_reDoTimes; }
  std::string FileTypeAllow() const { return m_fileTypeAllow; }
  void SetFileTypeAllow(const std::string& v);
  std::string FileTypeForbid() const { return m_fileTypeForbid; }
  void SetFileTypeForbid(const std::string& v);
  void SetMaxSize(double megabytes) { m_maxSize = megabytes * 1024.0 * 1024.0; }
  double MaxSizeBytes() const { return m_maxSize; }
  std::string FileType() const { return m_fileType; }
  void SetFileType(const std::string& v) { m_fileType = v; }

  // ---- progress of the current file
  long Percent() const { return m_percent; }
  void SetPercent(long v) { m_percent = v; }
  double TransferSize() const { return m_transferSize; }
  void SetTransferSize(double v) { m_transferSize = v; }
  std::string TransferState() const { return m_transferState; }
  double FileSize() const { return m_fileSize; }
  long Speed() const { return m_speed; }
  long LeftTime() const { return m_leftTime; }
  long QueueIndex() const { return m_queueIndex; }
  long QueueTotal() const { return m_queueTotal; }

  // ---- transfers
  // Fetches RemotePath ("|"-separated files, folders "dir/" and patterns
  // "dir/*.zip") into LocalPath (the matching "|"-separated local items).
  bool DownLoad(bool createFolder = true);
  // Sends LocalPath (files, folders "dir/", patterns "dir/*.txt") to
  // RemotePath.
  bool UpLoad(bool createFolder = true);
  // The server may hold part of the last UpLoad's file under its remote
  // name (with UploadTempName, its temporary name): a STOR of it went out
  // and was accepted (1xx), or its answer never came (the server may have
  // created the file already). False when every STOR was refused or none
  // was sent. Reset when UpLoad starts.
  bool StorMayHaveWritten() const { return m_storAccepted || m_storUnanswered; }
  // A finished download is flushed to disk before it counts as done (for
  // callers that delete the source next). Off by default.
  bool SyncDownloads() const { return m_syncDownloads; }
  void SetSyncDownloads(bool v) { m_syncDownloads = v; }
  // The size of the one file the next DownLoad fetches, as a listing the
  // host already holds gave it (-1: unknown). The byte count is then checked
  // against it even where the server refuses SIZE. Used by that DownLoad
  // only, whatever its outcome.
  void SetExpectedFileSize(double bytes) { m_hostFileSize = bytes; }
  // Each file of an UpLoad goes to a temporary name in its target folder
  // (TempUploadName) and takes its final name by RNFR/RNTO only once the
  // server confirmed all of it, so the final name never shows part of a
  // file. Where the server will not rename onto an existing file, that file
  // is deleted first; where it renames nothing at all, the rest of the
  // session stores under final names (logged once). Off by default.
  bool UploadTempName() const { return m_uploadTempName; }
  void SetUploadTempName(bool v) { m_uploadTempName = v; }
  // The temporary name of an upload of `name`: "_" + name + ".part". Not
  // the name of an incoming "R" or outgoing "T" file, nor of a ".tmp" one.
  static std::string TempUploadName(const std::string& name) { return "_" + name + ".part"; }
  // Where an upload to `path` goes first; "" when the temporary name would
  // be longer than a file name may be (the file then goes to `path`).
  static std::string TempUploadPath(const std::string& path);

  // ---- local helpers
  double GetLocalFileSize(const std::string& filePath) const;
  bool LocalFileExists(const std::string& filePath) const;
  bool LocalFolderExists(const std::string& folderPath) const;
  std::string GetFileName(const std::string& path) const;
  std::string GetFileExtendName(const std::string& path) const;
  std::string GetParentFolderPath(const std::string& path) const;
  std::string FormatFileSize(double size) const;
  // The file's modification date-time ("YYYY-MM-DD HH:MM:SS"), "" when missing.
  std::string GetLocalFileDate(const std::string& filePath) const;
  std::string ShowBrowserDialog() const;
  std::string ShowSaveFileDialog(const std::string& filter) const;
  std::string ShowOpenFileDialog(const std::string& filter, bool multiSelect) const;

  // ---- transfer list
  // `cancel` true takes the file out of the running upload job (it is
  // skipped); false puts it back.
  void ChangeTransferList(const std::string& filePath, bool cancel = true);
  std::string CanceledFileList() const;
  std::string AbortedFileList() const;

  // ---- for tests and diagnostics
  bool WatchdogRunning() const { return m_timeouter.Enabled(); }

 protected:
  bool DispatchReply(int code) override;
  void CommandSent(const std::string& verb) override;
  void DataSetupStarting() override;
  void DataConnected() override;
  void DataAccepted() override;
  void DataArrived() override;
  void DataClosed() override;
  void DataSendComplete() override;
  void AbortRequested(bool busy, bool currentFileOnly) override;
  bool FileCancelled() const override { return m_stop != nullptr && m_stop->fileOnly; }
  void CutOperation() override;
  void ReleaseOperation() override;
  bool MovingFile() const override { return m_lngOperation == kOpDownload || m_lngOperation == kOpUpload; }
  bool UsesDataConnection() const override { return MovingFile() || FtpRemote::UsesDataConnection(); }
  void SessionOpened() override;

 private:
  static const ReplyRow<FtpTransfers> kReplies[];

  // What Abort and AbortCurrent asked of the job under way (a DownLoad or
  // an UpLoad). It lives as long as the job: no request outlives it.
  struct JobStop {
    bool job = false;       // Abort during an operation: no file after this one
    bool retries = false;   // Abort: no further attempt at the file, no more waiting
    bool fileOnly = false;  // AbortCurrent: the file alone was cancelled
  };
  bool RetriesStopped() const { return m_stop != nullptr && (m_stop->job || m_stop->retries); }
  // Raises the cancel when Abort asked the job to stop after its file.
  void StopJobIfAsked();

  // The part of a job a layer hands to the next one down: sources paired
  // item by item with targets (one target folder "dir/" for them all), and
  // the sizes a listing gave for the sources.
  struct SubJob {
    std::vector<std::string> sources, targets;
    std::vector<double> sizes;
  };
  // Runs a job's folder items, then its file items (with `fileSizes`);
  // false when a part failed.
  bool RunJob(const JobItems& job, const std::function<bool(const SubJob&)>& folders,
              const std::function<bool(const SubJob&)>& queue, bool queueNeedsNoError, std::vector<double> fileSizes);
  bool DownLoadFolders(const SubJob& job, bool createFolder);
  bool DownLoadQueue(const SubJob& job, bool createFolder);
  // `knownSize`: the size a listing gave for the file, or -1 (SIZE asks).
  bool DownLoadOne(bool createFolder, double knownSize);
  bool UpLoadFolders(const SubJob& job);
  bool UpLoadQueue(const SubJob& job, bool createFolder);
  // Sends the file to RemotePath, or to `tempPath` when given, renamed to
  // RemotePath once the file is whole.
  bool UpLoadOne(bool createFolder, const std::string& tempPath);
  bool PutInPlace(const std::string& temp, const std::string& finalPath);
  bool OpenLocalFile();
  // Creates or cuts the download's local file once data is due: false (the
  // error raised) when the target is no regular file or cannot be written.
  bool PrepareDownloadTarget();
  void UploadData();
  void StartUploadWhenReady();
  void WriteDownloadedData();
  void FinishDownloadWhenComplete();
  void UpdateProgress(double bytes, double size, bool download);
  void CheckFileType(const std::string& ext);
  // The retry handling after a failed file: false when the file is not to
  // be tried again (the error is reported), else the result of `again`.
  bool RetryFile(const Raised& error, bool upload, const std::function<bool()>& again);
  std::string SizeLimitText() const;
  void WaitWhileTransferring(long operation);
  void TimeouterTick();
  void CloseLocalFile();
  void RaiseTransfer();

  // What the rows of the reply table do.
  void ActDownloadPortOk(int code);
  void ActPortRefused(int code);
  void ActSendRetr(int code);
  void ActRetrDone(int code);
  void ActRetrFailed(int code);
  void ActUploadType(int code);
  void ActUploadType425(int code);
  void ActUploadType550(int code);
  void ActSendStor(int code);
  void ActPasvAgain(int code);
  void ActStorAccepted(int code);
  void ActStorDone(int code);
  void ActStorFailed(int code);

  // ---- transfer properties
  bool m_overWrite = false;
  bool m_replacePrompt = true;
  long m_transferMode = 1;
  long m_reDoTimes = 1;
  std::string m_fileTypeAllow, m_fileTypeForbid, m_fileType;
  double m_maxSize = 0;
  bool m_syncDownloads = false;
  bool m_uploadTempName = false;
  bool m_renameRefused = false;  // this session's server renames nothing

  // ---- progress
  long m_percent = 0;
  double m_transferSize = 0;
  std::string m_transferState;
  double m_fileSize = 0;
  long m_speed = 0, m_leftTime = 0, m_queueIndex = 0, m_queueTotal = 0;

  // ---- the job under way
  long m_retryCount = 0;
  long m_retryWait = 10;
  long m_sendBlockSize = 1024;
  bool m_storAccepted = false;    // a 1xx answered a STOR of this UpLoad
  bool m_storUnanswered = false;  // a STOR went out and no reply came yet
  double m_hostFileSize = -1;      // SetExpectedFileSize, for the next DownLoad
  TransferRun* m_transfer = nullptr;  // the attempt under way, owned by it
  JobStop* m_stop = nullptr;          // the job under way's, owned by it
  std::string m_canceledFileList;
  std::string m_abortedFileList;

  LoopTimer m_timeouter;  // the transfer watchdog
};

}  // namespace pellan
