// FtpLibrary: the FTP client control. A host creates one, sets its
// properties, calls its operations and handles its four events; every
// operation looks synchronous because it runs the event loop while it waits,
// so socket events, the control's timers and the host's own handlers all run
// inside a call. Nothing throws across this boundary: an operation returns
// false (or a sentinel) and the reason is read from ErrorNumber/ErrorInfo.
//
// The class spans several files of the engine: the session core (connect,
// commands, replies), keep-alive and close, the error report, the remote
// operations, and the properties here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ftp/ftp_values.h"
#include "ftp/remote/ftp_file.h"
#include "support/error_messages.h"
#include "net/csocket.h"
#include "platform/code_page.h"
#include "platform/event_loop.h"
#include "support/encrypt.h"

namespace pellan {

struct JobItems;
class ListingRun;
class TransferRun;

class FtpLibrary {
 public:
  FtpLibrary();
  ~FtpLibrary();
  FtpLibrary(const FtpLibrary&) = delete;
  FtpLibrary& operator=(const FtpLibrary&) = delete;

  // ---- events
  // Raised from the engine's own code, or (for what a socket or timer
  // callback raises) once that callback has returned: a handler may start
  // another operation and see it finish.
  std::function<void()> OnError;
  std::function<void()> OnTransfer;
  std::function<void(const std::string& message, long messageType)> ServerMessage;
  std::function<void(long state)> OnStateChange;

  // ---- connection properties
  std::string ServerName() const { return m_serverName; }
  void SetServerName(const std::string& enciphered);  // deciphered on store
  std::string PassWord() const { return m_passWord; }
  void SetPassWord(const std::string& v) { m_passWord = v; }
  std::string UserName() const { return m_userName; }
  void SetUserName(const std::string& v) { m_userName = v; }
  long RemotePort() const { return m_remotePort < 1 ? 21 : m_remotePort; }
  void SetRemotePort(long port);
  std::string RemotePath() const { return m_remotePath; }
  void SetRemotePath(const std::string& path);
  std::string LocalPath();
  void SetLocalPath(const std::string& path);
  bool PassiveMode() const { return m_passiveMode; }
  void SetPassiveMode(bool v) { m_passiveMode = v; }
  // Passive mode connects to the control connection's peer at the port the
  // server announces; with this set, to the announced address itself.
  bool UsePasvAddress() const { return m_usePasvAddress; }
  void SetUsePasvAddress(bool v) { m_usePasvAddress = v; }
  long TimeOut() const { return m_timeOut < 1 ? 30 : m_timeOut; }
  void SetTimeOut(long seconds);
  void SetKeepConnSecond(long seconds);
  long KeepConnSecond() const { return m_keepConnSecond; }  // for hosts that show it
  // The code page of command lines, replies and listings ("UTF-8" or "GBK").
  std::string CodePage() const { return CodePageName(m_codePage); }
  bool SetCodePage(const std::string& name);

  // ---- transfer properties
  bool OverWrite() const { return m_overWrite; }
  void SetOverWrite(bool v);
  bool ReplacePrompt() const { return m_replacePrompt; }
  void SetReplacePrompt(bool v) { m_replacePrompt = v; }
  bool RaiseErrorEvent() const { return m_raiseErrorEvent; }
  void SetRaiseErrorEvent(bool v) { m_raiseErrorEvent = v; }
  long TransferMode() const { return m_transferMode; }
  void SetTransferMode(long v) { m_transferMode = v; }
  long ChunkSize() const { return m_chunkSize; }
  void SetChunkSize(long kilobytes);
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

  // ---- session values
  long FtpState() const { return m_ftpState; }
  long ErrorNumber() const;
  std::string ErrorInfo() const;
  bool Connected() const;
  bool Busy() const { return m_ftpState != kFtpReady && m_ftpState != kFtpClosed; }
  std::string CurrentDirectory() const { return m_currentDirectory; }
  std::string Title() const;
  void SetTitle(const std::string& title);
  std::string Version() const;
  // The message texts of the current language joined by "|"; storing 43
  // texts replaces the English column and makes it current.
  std::string Text() const { return m_messages.Text(); }
  void SetText(const std::string& text) { m_messages.SetText(text); }
  // The language of the messages (0 English, 1 Simplified Chinese,
  // 2 Traditional Chinese, 3 Japanese); chosen from the user's at creation.
  int Language() const { return m_messages.Language(); }
  void SetLanguage(int language) { m_messages.SetLanguage(language); }
  ErrorMessages& Messages() { return m_messages; }

  // ---- transfers
  // Fetches RemotePath ("|"-separated files, folders "dir/" and patterns
  // "dir/*.zip") into LocalPath (the matching "|"-separated local items).
  bool DownLoad(bool createFolder = true);
  // Sends LocalPath (files, folders "dir/", patterns "dir/*.txt") to
  // RemotePath.
  bool UpLoad(bool createFolder = true);
  // The server may hold part of the last UpLoad's file under its remote
  // name: a STOR of it went out and was accepted (1xx), or its answer never
  // came (the server may have created the file already). False when every
  // STOR was refused or none was sent. Reset when UpLoad starts.
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

  // ---- session operations
  bool Connect();
  void CloseConnection();
  void Abort();
  void AbortCurrent();

  // ---- remote operations
  bool DeleteFile(const std::string& remotePath);
  bool RemoveDirectory(const std::string& remotePath);
  bool RenameFile(const std::string& oldFileName, const std::string& newFileName);
  bool SetCurrentDirectory(const std::string& directoryPath);
  std::string GetCurrentDirectory();
  std::string GetParentDirectory();
  bool CreateDirectory(const std::string& directoryPath, bool recursive);
  // SIZE: the size in bytes, -1 when the server answers 550, -2 otherwise.
  double GetRemoteFileSize(const std::string& remotePath);

  // ---- listings and remote queries
  // The entries of a remote folder ("dir/"), file, or pattern ("dir/R*");
  // null for an empty listing or on failure (ErrorNumber tells which).
  std::unique_ptr<CFtpFiles> GetRemoteFilesInfo(const std::string& path);
  std::unique_ptr<CFtpFile> GetFtpFileInfo(const std::string& remotePath);
  std::unique_ptr<CFtpFiles> GetFtpDirectoryInfo(const std::string& directoryPath);
  bool ExistDirectory(const std::string& directoryName);
  double GetFtpFileSize(const std::string& remotePath);

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
  long Operation() const { return m_lngOperation; }
  const std::string& LastCommand() const { return m_strLastCommand; }
  const CSocket& ControlSocket() const { return m_objControlSocket; }
  bool KeepAliveRunning() const { return m_timer1.Enabled(); }
  bool WatchdogRunning() const { return m_timeouter.Enabled(); }
  int ConnectTries() const { return m_intConnectTries; }
  void SetMaxListingBytes(size_t bytes) { m_maxListingBytes = bytes; }

 private:
  // An error raised inside an operation: caught by the operation's own
  // handler, never beyond the control.
  struct Raised {
    long number;
    std::string description;
    bool reported = false;  // already recorded and announced by a lower layer
  };
  [[noreturn]] void Raise(long number, const std::string& description = std::string()) const;

  // Session core.
  bool SendFtpCommand(const std::string& command, std::string argument);
  bool ReConnect();
  void SetOperation(long operation);
  void EndOperation();
  void SetFtpState(long state, bool announce);
  // The one wait of the synchronous calls: runs the loop until `done` holds
  // (true), delivering after each turn the host events its callbacks raised.
  // Past `deadline` (false) an exchange under way is given up with its
  // control connection, so that no late reply is ever taken for the answer
  // to the next command.
  bool RunUntil(const std::function<bool()>& done, MonoTime deadline);
  // Lets the loop run for `d`, or until Abort.
  void Pause(Duration d);
  void WaitForReply(long operation);
  bool GetDirFromResponse();
  void ControlSocketOnConnect();
  void ControlSocketOnDataArrival();
  void ControlSocketOnClose();
  void ControlSocketOnError();
  void HandleReply(int code);
  void HandleLoginReply(int code);
  void FailReply(int code) { Raise(kErrReplyBase + code); }
  void ReplyErrorPath(long number, std::string description);
  void AbandonExchange();

  // Keep-alive, watchdog, abort and close.
  void Timer1Tick();
  void TimeouterTick();
  void Quit();
  void CloseDataConnection();
  void CloseLocalFile();

  // Transfers.
  // Runs a job's folder items, then its file items; false when a part failed.
  bool RunJob(const JobItems& job, const std::function<bool()>& folders, const std::function<bool()>& queue,
              bool queueNeedsNoError);
  bool DownLoadFolders(bool createFolder);
  bool DownLoadQueue(bool createFolder);
  bool DownLoadOne(bool createFolder);
  bool UpLoadFolders();
  bool UpLoadQueue(bool createFolder);
  bool UpLoadOne(bool createFolder);
  bool OpenLocalFile();
  // Creates or cuts the download's local file once data is due: false (the
  // error raised) when the target is no regular file or cannot be written.
  bool PrepareDownloadTarget();
  void UploadData();
  void StartUploadWhenReady();
  void DataSocketOnSendComplete();
  void WriteDownloadedData();
  void FinishDownloadWhenComplete();
  void UpdateProgress(double bytes, double size, bool download);
  void CheckFileType(const std::string& ext);
  // The retry handling after a failed file: false when the file is not to
  // be tried again (the error is reported), else the result of the retry.
  bool RetryFile(const Raised& error, bool upload, bool createFolder);
  std::string SizeLimitText() const;
  void WaitWhileTransferring(long operation);

  // The data connection.
  static long GetFreePort();
  static bool ParsePasvReply(const std::string& reply, std::string* host, long* port);
  void EstablishPasvDataConnection(const std::string& reply);
  void SendPORTCommand();
  void DataSocketOnConnect();
  void DataSocketOnConnectionRequest(long requestID);
  // The server's data connection was taken: the operation under way uses it.
  void DataConnectionAccepted();
  // Marks a command sent on the operation under way.
  void CommandSent(const std::string& verb);
  void DataSocketOnDataArrival();
  void DataSocketOnClose();
  void DataSocketOnError();
  void FinishListingWhenComplete();
  // Ends the operation when its wait stopped on an error but nothing ended
  // it (a socket error arrives without an event), so the next operation is
  // not refused as "unfinished".
  void EndFailedOperation(long operation);
  void SendDataConnectionSetup();

  // Host events: delivered at once outside a callback; inside one, queued
  // and delivered after it, by the wait under way or a posted call.
  struct CallbackScope;
  void HostEvent(std::function<void()> event);
  void DeliverHostEvents();
  void RaiseServerMessage(const std::string& message, long messageType);
  void RaiseTransfer();

  // Errors.
  void ReportError(const std::string& procName, long number, const std::string& description,
                   bool showError = false);
  void RaiseError(const std::string& source, long number, const std::string& description = std::string());
  void LogLine(const std::string& text);
  // OnError, unless the host switched it off, the error is a cancel, the
  // current file was cancelled, or the engine is only probing.
  void RaiseOnError(long number);

  // The common frame of the command operations (after the arguments are
  // checked): connect, refuse a second operation, send, wait.
  bool RunCommandOperation(long operation, const std::string& command, const std::string& argument);
  // Whether a remote folder exists, asked with CWD into it and back; no
  // OnError while asking.
  bool FolderExistsByCwd(const std::string& path);
  // Drops `path` and everything below it (and, when asked, the folders
  // above it) from the created-directories memory; true when any was held.
  bool ForgetCreatedDirectory(const std::string& path, bool withAncestors);
  std::unique_ptr<CFtpFiles> ListParentOf(const std::string& path, const char* failureLine, bool* failed);

  // Rows of the reply dispatch table and what they do.
  struct DispatchRow;
  static const DispatchRow kDispatchTable[];
  void ActIgnore(int code);
  void ActEnd(int code);
  void ActFail(int code);
  void ActCloseAndFail(int code);
  void ActSendUser(int code);
  void ActSendPass(int code);
  void ActLoggedIn(int code);
  void ActLoginPwd(int code);
  void ActPwd(int code);
  void ActMkdRefused(int code);
  void ActSendRnto(int code);
  void ActDeleRefused(int code);
  void ActQuitDone(int code);
  void ActSendSize(int code);
  void ActSizeKnown(int code);
  void ActSizeRefused500(int code);
  void ActSizeMissing(int code);
  void ActSizeFailed(int code);
  void ActAbortDone(int code);
  void ActListType(int code);
  void ActListTypeAgain(int code);
  void ActListType425(int code);
  void ActListType550(int code);
  void ActListPortOk(int code);
  void ActPasv(int code);
  void ActListDone(int code);
  void ActList550(int code);
  void ActListFailed(int code);
  void ActTransferType(int code);
  void ActDownloadPortOk(int code);
  void ActPortRefused(int code);
  void ActSendRetr(int code);
  void ActRetrDone(int code);
  void ActRetrFailed(int code);
  void ActUploadType(int code);
  void ActUploadType425(int code);
  void ActUploadType550(int code);
  void ActUploadPortOk(int code);
  void ActPasvAgain(int code);
  void ActSendStor(int code);
  void ActStorAccepted(int code);
  void ActStorDone(int code);
  void ActStorFailed(int code);

  // ---- connection properties
  std::string m_serverName, m_passWord, m_userName;
  long m_remotePort = 21;
  std::string m_remotePath, m_localPath;
  bool m_passiveMode = true;
  long m_timeOut = 30;
  long m_keepConnSecond = 60;
  pellan::CodePage m_codePage = pellan::CodePage::kUtf8;

  // ---- transfer properties
  bool m_overWrite = false;
  bool m_replacePrompt = true;
  bool m_raiseErrorEvent = true;
  long m_transferMode = 1;
  long m_chunkSize = 1'024'000;
  long m_reDoTimes = 1;
  std::string m_fileTypeAllow, m_fileTypeForbid, m_fileType;
  double m_maxSize = 0;

  // ---- progress
  long m_percent = 0;
  double m_transferSize = 0;
  std::string m_transferState;
  double m_fileSize = 0;
  long m_speed = 0, m_leftTime = 0, m_queueIndex = 0, m_queueTotal = 0;
  long m_retryCount = 0;
  long m_retryWait = 10;
  long m_sendBlockSize = 1024;
  double m_knownRemoteSize = -1;  // a size the listing already gave, or -1
  bool m_storAccepted = false;    // a 1xx answered a STOR of this UpLoad
  bool m_storUnanswered = false;  // a STOR went out and no reply came yet
  bool m_syncDownloads = false;
  bool m_abortRetry = false;  // Abort came: no further attempt at the file
  // The sub-job a layer hands to the next one down.
  std::vector<std::string> m_jobSources, m_jobTargets;
  std::vector<double> m_jobSizes;  // sizes a listing gave for m_jobSources
  double m_hostFileSize = -1;      // SetExpectedFileSize, for the next DownLoad
  TransferRun* m_transfer = nullptr;  // the attempt under way, owned by it
  ListingRun* m_listing = nullptr;    // the listing under way, owned by it

  // ---- session record
  long m_ftpState = kFtpReady;
  long m_lngOperation = kOpNone;
  std::string m_strLastCommand;
  std::string m_strReplyBuffer;
  std::string m_strLastReply;
  MonoTime m_dtLastActivity{};
  bool m_blnLoggedIn = false;
  std::string m_currentDirectory;
  bool m_blnReconnecting = false;
  long m_lngSavedOperation = 0;
  int m_intConnectTries = 0;
  std::string m_renameTarget;
  std::string m_sizePath;
  size_t m_maxListingBytes = kMaxListingBytes;
  bool m_usePasvAddress = false;
  int m_portProbing = 0;
  std::string m_canceledFileList;
  std::string m_abortedFileList;
  int m_quietProbe = 0;
  std::string m_createdDirectories = "|";
  double m_remoteSize = -2;
  bool m_abortAll = false;
  bool m_abortCurrent = false;

  int m_callbackDepth = 0;
  uint64_t m_operationsStarted = 0;  // exchanges begun, but for ABOR and QUIT
  bool m_deliveryPosted = false;
  std::deque<std::function<void()>> m_hostEvents;
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);  // for posted calls

  ErrorMessages m_messages;
  CEncrypt m_encrypt;
  CSocket m_objControlSocket;
  CSocket m_objDataSocket;
  LoopTimer m_timer1;
  LoopTimer m_timeouter;
};

}  // namespace pellan
