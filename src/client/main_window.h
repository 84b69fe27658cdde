// frmTLVFTP, the sync client's main window: its fields, its start-up, the
// one start button that logs in, cancels, retries and stops, the four
// timers, the exit routine and the close handler. It owns the FTP control
// FtpLibrary1 for the life of the process and shows what it does through its
// WindowModel, which a front end observes; nothing here depends on a
// toolkit.
//
// Everything runs on the event loop's thread. Connect and the pass let the
// loop run while they wait, so timer ticks, clicks and exit requests arrive
// in the middle of them; the flags below are the only guards, as the timers'
// rules require (Timer1 disables itself for the length of a pass, Timer4
// fires once, Timer2 acts only on time stamps and flags).
//
// The program ends only through EndProgram, called by the exit routine and
// the close handler after their steps, wherever they run: an exit request
// that arrives inside a nested wait ends the process there, without
// unwinding. Tests replace EndProgram with one that throws ProgramEnd.
#pragma once

#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "client/client_logs.h"
#include "client/companion_files.h"
#include "client/retry_backoff.h"
#include "client/window_model.h"
#include "ftp/ftp_library.h"
#include "platform/event_loop.h"

namespace pellan::client {

// The client's own version, shown in the window caption and the log header.
struct ClientVersion {
  int major, minor, revision;
};
ClientVersion ProgramVersion();
std::string VersionText();  // "0.1.0.0": major.minor.0.revision

// A point in time as the client keeps it: monotonic for intervals (a clock
// change never fires the watchdog), and the wall time for the logs.
struct Moment {
  MonoTime mono{};
  std::time_t wall = 0;
  static Moment Now();
  std::string Text() const;  // "YYYY-MM-DD HH:MM:SS"
};
// Whole seconds from `from` to `to`, counted as second boundaries passed.
int64_t SecondBoundaries(const Moment& from, const Moment& to);

// Thrown by a test's EndProgram so that a test sees the program end where it
// would have ended; deliberately no std::exception, so no fault trap of the
// client catches it.
struct ProgramEnd {
  int status;
};

struct ClientSettings {
  // The program folder: the path file, the logs and the companion files.
  std::string folder;
  // "log" was among the arguments.
  bool logArgument = false;
  // The code page of the FTP session: names and texts on the wire only.
  // Local names and the client's own files are UTF-8.
  std::string codePage = "UTF-8";
  // After a failed login, press the retry button after this many seconds;
  // 0 leaves a failed login waiting for the operator.
  int retryLoginSeconds = 0;
  // Uploads go straight to their final names instead of through a
  // temporary name.
  bool directUploads = false;
  // One pass and the end (--once): log in, send what waits, fetch every
  // reply that waits, end with 0 when all that was tried moved, else 1. A
  // failed login ends it too. Replies are never cleared unfetched.
  bool once = false;
  // Bytes a second the transfers may move each way (0: no limit).
  double rateLimit = 0;
  // FTP over TLS, 0 off, 1 required (AUTH TLS), 2 implicit (never read from
  // the path file, whose format the companion owns), with its trust: a CA
  // file, or a certificate's pin.
  long tls = 0;
  std::string tlsCa, tlsPin;
};

// The captions of the login label, which are the start button's modes.
inline constexpr char kCaptionLogin[] = "登    录";
inline constexpr char kCaptionAutoLogin[] = " 取消登录 ";
inline constexpr char kCaptionCancel[] = "取消登录";
inline constexpr char kCaptionRetry[] = "重    试";
inline constexpr char kCaptionStop[] = "停    止";

class frmTLVFTP {
 public:
  explicit frmTLVFTP(ClientSettings settings);
  ~frmTLVFTP();
  frmTLVFTP(const frmTLVFTP&) = delete;
  frmTLVFTP& operator=(const frmTLVFTP&) = delete;

  // The load routine. False when another copy runs in the program folder:
  // this one has left plnrc.cal for it, touched nothing else, and must end.
  bool Form_Load();

  // ---- clicks
  void btnStart_Click();
  void lblLogin_Click() { btnStart_Click(); }
  void imgLogin_Click() { btnStart_Click(); }
  void btnExit_Click() { ExitRoutine(); }
  // The close control: the exit routine while btnExit is enabled, else nothing.
  void lblClose_Click();
  void imgClose_Click() { lblClose_Click(); }
  // The tray icon: a left click hides a shown window and shows and restores
  // a hidden one; a right click does nothing.
  void TrayLeftClick();
  void TrayRightClick() {}

  // The last step of the exit routine: clo.txt when the last login failed,
  // the tray icon goes, the program ends.
  void Form_Unload();
  // The user closed the window's frame: an exit request while a login or a
  // session runs, else the exit routine.
  void WindowClosed();

  // An exit request from outside other than "exit.txt" (SIGTERM, SIGINT):
  // the same steps as that file, without the file.
  void RequestExit();

  // ---- the timers' ticks
  void Timer1_Timer();  // the pass timer
  void Timer2_Timer();  // the stall watchdog
  void Timer3_Timer();  // activation and exit requests
  void Timer4_Timer();  // the automatic login

  // One pass over the configured folders: uploads, then downloads, for each.
  void RunPass();
  void ScanFolder(const std::string& folder);
  // Empties the remote folder of old incoming files before a new batch.
  void ClearRemoteFile(const std::string& remoteFolder);
  // Once a run and folder: the "R….tmp" files a download cut by a crash
  // left are deleted, and replies are looked for at once, so that their
  // server copies (still there) come down before a new batch clears them.
  void ResumeCutDownloads(const std::string& folder);
  // Deletes the temporary files of uploads cut short before this session,
  // once a session and folder, before the folder's first upload.
  void ClearLeftoverUploads(const std::string& remoteFolder);
  // Where the upload that just failed may have left part of its file, when
  // this client may delete it ("" otherwise): its temporary name, or with
  // direct uploads the final one. A final name otherwise holds an earlier
  // whole copy or nothing, and stays.
  std::string CutUploadPath() const;
  // The FTP control's progress event: a log line and the status line.
  void FtpLibrary1_OnTransfer();

  // The status line "[" now "] " message (each CR LF shown as "; ", doubled
  // CR LFs first made single), with copies to the error log (shown in a
  // message box with `show`) and the run log as asked.
  void ShowState(const std::string& message, bool errorLog = false, bool runLog = false, bool show = false);
  void WriteLog(const std::string& message) const { m_logs.WriteLog(message); }
  void WriteMSG(const std::string& message) const { m_logs.WriteMSG(message); }
  void WriteError(const std::string& procedure, const std::string& message, bool show = false) const {
    m_logs.WriteError(procedure, message, show);
  }
  // succ.txt or err.txt; a failure is an alert.
  void WriteConnectLog(bool success, const std::string& text) {
    StatusFileWritten(success ? kSuccFile : kErrFile, m_logs.WriteConnectLog(success, text));
  }

  // ---- seams
  // Replaces the folder work of a pass (for tests of the timers).
  std::function<void()> FolderPass;
  // Ends the process with a status; by default flushes and _exit()s.
  std::function<void(int status)> EndProgram;
  // Flushes the local folder's entries after a download's rename; by
  // default fsync(2). Tests make it fail as a full or failing disk would.
  std::function<int(int fd)> FolderFsync;

  // ---- for the front end and tests
  WindowModel& Model() { return m_model; }
  const WindowModel& Model() const { return m_model; }
  FtpLibrary& FtpLibrary1() { return *m_ftp; }
  const ClientLogs& Logs() const { return m_logs; }
  const CompanionFiles& Files() const { return m_files; }
  const std::string& Title() const { return g_strTitle; }
  const std::string& PathFile() const { return g_strPathFile; }
  bool Timer1Enabled() const { return m_timer1.Enabled(); }
  bool Timer2Enabled() const { return m_timer2.Enabled(); }
  bool Timer3Enabled() const { return m_timer3.Enabled(); }
  bool Timer4Enabled() const { return m_timer4.Enabled(); }
  bool RetryTimerEnabled() const { return m_retryTimer.Enabled(); }
  std::string LoginCaption() const { return m_model.Text("lblLogin"); }

  // ---- the form's fields
  bool m_blnRunning = false;
  int m_intState = 0;
  bool m_blnLogOn = false;
  std::string m_strTypeList;
  std::string m_strUpPrefix;
  std::string m_strDownPrefix;
  int m_intPassInterval = 200;
  std::string m_strTmpExt;
  bool m_blnAbortSent = false;
  bool m_blnForced = false;
  bool m_blnClearPending = true;
  std::set<std::string> m_leftoversCleared;  // remote folders, this session
  // The last successful upload; none yet after start-up, and then no
  // download is attempted.
  std::optional<Moment> m_dtLastUpload;
  Moment m_dtLastActive;
  std::string m_strDirection;
  std::string m_strFolders;
  int m_intHideCount = 0;
  bool m_blnExiting = false;
  bool m_loginBoxShown = false;  // the failed-login box is up

 private:
  // Start-up pieces.
  bool TakeInstanceLock();
  void LoadFolderList();
  void WarnAboutReadablePathFile();
  std::string GetFolderListText() const { return m_model.Text("txtLocalPath"); }
  void SetPortText(const std::string& text);
  void SetLoginCaption(const std::string& caption) { m_model.SetText("lblLogin", caption); }
  void SetExitEnabled(bool enabled);
  void SetSettingsEnabled(bool enabled);
  void HideWindow() { m_model.HideWindow(); }

  // btnStart_Click's halves.
  void ClickSteps();
  // False when a check failed and the click ends.
  bool StartSteps();
  void StopSteps();
  void FinalSteps();

  // The exit request path shared by exit.txt and the signals.
  void ExitRequest();
  void ExitRoutine();
  // The end of a --once run, with its status.
  void EndOnce(int status);
  void DisableTimers();

  void RetryTimer_Timer();

  // One outgoing file (k: its number in the list) and one incoming file;
  // false when the attempt failed (the file is tried again later).
  bool UploadOne(const std::string& folder, const std::string& remoteFolder, const std::string& name, size_t k);
  bool DownloadOne(const std::string& folder, const std::string& remoteFolder, const CFtpFile& entry, size_t j);
  // True when the pass leaves a listed entry alone (not a plain file name
  // as listed, a link, or for a download a temporary name); the reason goes
  // to the error log once per name and run, under `procedure`.
  bool Skipped(const std::string& procedure, const std::string& remoteFolder, const CFtpFile& entry, bool download);
  // An error-log line about a skipped name, once per run.
  void SayOnce(const std::string& procedure, const std::string& line);
  // A fault the operator must see (an unreadable folder, a status file that
  // cannot be written): the status line, the error log and stderr, once
  // until AlertCleared(key) says it is over.
  void Alert(const std::string& key, const std::string& text);
  void AlertCleared(const std::string& key) { m_alerts.erase(key); }
  // Writes a status file for the companion; a failure is an alert.
  void WriteStatusFile(const char* name) { StatusFileWritten(name, m_files.WriteEmptyLine(name)); }
  void StatusFileWritten(const std::string& name, bool written);
  // A file that keeps failing (key "UP:" local path or "DOWN:" remote path)
  // is tried again after 1, 2, 4 ... 60 seconds, not on every pass.
  bool DueForAttempt(const std::string& key) const;
  void Attempted(const std::string& key, bool succeeded);
  // Gives a finished download its final name and flushes the folder so the
  // rename lasts; false (one error-log line says why) when either failed.
  bool Finalize(const std::string& folder, const std::string& tmpPath, const std::string& finalPath);

  ClientSettings m_settings;
  std::set<std::string> m_alerts;               // the alerts standing
  std::set<std::string> m_foldersResumed;       // ResumeCutDownloads has run
  std::map<std::string, Backoff> m_fileRetries;  // files that failed, by key
  int m_failedAttempts = 0;                      // this run's, for --once
  // After a failed login: --retry-login's seconds, doubled up to a minute.
  Backoff m_loginRetry{std::chrono::seconds(m_settings.retryLoginSeconds), std::chrono::seconds(60)};
  std::set<std::string> m_skippedNames;  // SayOnce's lines so far
  std::string g_strPathFile;
  std::string g_strTitle;
  CompanionFiles m_files;
  ClientLogs m_logs;
  WindowModel m_model;
  std::unique_ptr<FtpLibrary> m_ftp;
  int m_lockFd = -1;
  LoopTimer m_timer1;
  LoopTimer m_timer2;
  LoopTimer m_timer3;
  LoopTimer m_timer4;
  LoopTimer m_retryTimer;
};

}  // namespace pellan::client
