// frmTLVFTP: creation, the load routine, the status line and the window
// controls. The start button, the timers and the exit are in
// session_control.cpp.
#include "client/main_window.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "client/client_files.h"
#include "client/headless_front_end.h"
#include "client/path_file.h"
#include "platform/date_text.h"
#include "support/public.h"

#ifndef PELLAN_VERSION_MAJOR
#define PELLAN_VERSION_MAJOR 0
#define PELLAN_VERSION_MINOR 1
#define PELLAN_VERSION_PATCH 0
#endif

namespace pellan::client {

ClientVersion ProgramVersion() { return {PELLAN_VERSION_MAJOR, PELLAN_VERSION_MINOR, PELLAN_VERSION_PATCH}; }

std::string VersionText() {
  const ClientVersion v = ProgramVersion();
  return std::to_string(v.major) + "." + std::to_string(v.minor) + ".0." + std::to_string(v.revision);
}

Moment Moment::Now() { return Moment{CurrentClock().Now(), WallSeconds()}; }

std::string Moment::Text() const { return DateTimeText(wall); }

int64_t SecondBoundaries(const Moment& from, const Moment& to) {
  using std::chrono::duration_cast;
  using std::chrono::seconds;
  auto floorSeconds = [](MonoTime t) {
    const auto d = t.time_since_epoch();
    auto s = duration_cast<seconds>(d);
    if (s > d) s -= seconds(1);  // toward minus infinity
    return s.count();
  };
  return floorSeconds(to.mono) - floorSeconds(from.mono);
}

frmTLVFTP::frmTLVFTP(ClientSettings settings)
    : m_settings(std::move(settings)), m_files(m_settings.folder), m_logs(m_settings.folder, false) {
  EndProgram = [](int status) {
    std::fflush(nullptr);
    _exit(status);
  };
  g_strPathFile = m_files.Path(kPathFile);
  g_strTitle = "Pellan远程连接";
  m_dtLastActive = Moment::Now();
  m_timer1 = LoopTimer(Milliseconds(200), [this] { Timer1_Timer(); }, false);
  m_timer2 = LoopTimer(Milliseconds(3000), [this] { Timer2_Timer(); }, false);
  m_timer3 = LoopTimer(Milliseconds(100), [this] { Timer3_Timer(); }, false);
  m_timer4 = LoopTimer(Milliseconds(500), [this] { Timer4_Timer(); }, false);
  m_retryTimer = LoopTimer(Milliseconds(1000), [this] { RetryTimer_Timer(); }, false);
}

frmTLVFTP::~frmTLVFTP() {
  DisableTimers();
  m_ftp.reset();
  if (m_lockFd >= 0) close(m_lockFd);
}

bool frmTLVFTP::TakeInstanceLock() {
  const int fd = open(m_files.Path(kLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  // A folder where no lock can be made cannot hold a second copy's request
  // either: run rather than refuse.
  if (fd < 0) return true;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  m_lockFd = fd;
  return true;
}

bool frmTLVFTP::Form_Load() {
  // A second copy must leave the running one's status files alone, so the
  // running copy is looked for before anything is reset, and the second
  // copy touches nothing but plnrc.cal.
  if (!TakeInstanceLock()) {
    m_files.WriteActivationRequest();
    return false;
  }
  m_ftp = std::make_unique<FtpLibrary>();
  m_ftp->SetCodePage(m_settings.codePage);
  m_ftp->SetRateLimit(m_settings.rateLimit);
  m_ftp->SetExtendedPassive(true);
  m_ftp->SetTlsMode(m_settings.tls);
  m_ftp->SetTlsCaFile(m_settings.tlsCa);
  m_ftp->SetTlsPin(m_settings.tlsPin);
  m_ftp->ServerMessage = [this](const std::string& message, long) {
    m_dtLastActive = Moment::Now();
    WriteMSG(message);
  };
  m_ftp->OnError = [this] { WriteError("FtpLibrary1_OnError", m_ftp->ErrorInfo(), false); };
  m_ftp->OnTransfer = [this] { FtpLibrary1_OnTransfer(); };

  for (const char* name : {"txtServerName", "txtUserName", "txtPassWord", "txtRemotePath"}) m_model.SetText(name, "");
  SetPortText(kDefaultPort);
  // The remote path stays empty: remote folders are named relative to the
  // login directory.
  m_model.SetVisible("txtRemotePath", false);
  m_model.SetVisible("lblRemotePath", false);
  m_intState = 0;
  m_model.SetText("lblCurState", "");

  m_files.ResetStatusFiles();

  m_blnLogOn = m_settings.logArgument || CPublic().IsDebug() || ExistFile(m_files.Path(kRunLogFile));
  m_logs.SetLogOn(m_blnLogOn);
  m_logs.SetMessageTitle(g_strTitle);

  WriteLog("------------------V" + VersionText() + "_" + m_ftp->Version() + "------------------");
  WarnAboutReadablePathFile();

  m_strTypeList = ".xls.mao.txt.";
  m_strUpPrefix = "T";
  m_strDownPrefix = "R";
  m_intPassInterval = 200;

  LoadFolderList();
  m_model.SetEnabled("btnDeletePath", false);

  m_blnRunning = false;
  m_blnAbortSent = false;
  m_blnForced = false;
  m_strTmpExt = ".tmp";

  ShowState("未运行..." + m_ftp->Version());

  g_strTitle = "[客户端]" + g_strTitle;
  m_logs.SetMessageTitle(g_strTitle);
  m_blnClearPending = true;
  for (const auto& name : WindowModel::SettingsInputs()) m_model.SetVisible(name, false);
  m_model.SetVisible("btnStart", false);
  m_model.SetVisible("btnExit", false);
  m_model.SetCaption(g_strTitle + " V" + VersionText());
  m_model.ShowAndRestore();

  m_model.AddTrayIcon();
  m_model.SetTrayTip(g_strTitle);

  // No upload yet, so no download is attempted before the first one.
  m_dtLastUpload.reset();

  SetLoginCaption(kCaptionAutoLogin);
  m_model.SetText("lblCurState", "正在登录");
  m_timer1.SetInterval(Milliseconds(m_intPassInterval));
  m_timer2.SetEnabled(true);
  m_timer3.SetEnabled(true);
  m_timer4.SetEnabled(true);
  return true;
}

void frmTLVFTP::WarnAboutReadablePathFile() {
  // The password stands in the path file in the clear; that is how the
  // companion hands it over, but the file should be the owner's alone.
  struct stat st{};
  if (stat(g_strPathFile.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  if ((st.st_mode & (S_IRGRP | S_IROTH)) == 0) return;
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  const std::string warning = " holds the FTP password and can be read by group or others (mode " +
                              std::string(mode) + "); chmod 600 it";
  WriteError("Form_Load", kPathFile + warning);
  WriteLineNow(STDERR_FILENO, "pellan-sync: [" + g_strPathFile + "]" + warning);
}

void frmTLVFTP::LoadFolderList() {
  m_model.SetText("txtLocalPath", "");
  const PathFileFields fields = ReadPathFile(g_strPathFile);
  if (fields.localPath) m_model.SetText("txtLocalPath", *fields.localPath);
  if (fields.serverName) m_model.SetText("txtServerName", *fields.serverName);
  if (fields.port) SetPortText(*fields.port);
  if (fields.userName) m_model.SetText("txtUserName", *fields.userName);
  if (fields.passWord) m_model.SetText("txtPassWord", *fields.passWord);
}

void frmTLVFTP::SetPortText(const std::string& text) { m_model.SetText("txtPort", CheckedPortText(text)); }

void frmTLVFTP::SetExitEnabled(bool enabled) {
  m_model.SetEnabled("btnExit", enabled);
  m_model.SetCloseLabelColour(enabled ? CloseColour::kExitAllowed : CloseColour::kExitBlocked);
}

void frmTLVFTP::SetSettingsEnabled(bool enabled) {
  for (const auto& name : WindowModel::SettingsInputs()) m_model.SetEnabled(name, enabled);
}

void frmTLVFTP::ShowState(const std::string& message, bool errorLog, bool runLog, bool show) {
  std::string msg;
  for (size_t i = 0; i < message.size();) {
    if (message.compare(i, 4, "\r\n\r\n") == 0) {
      msg += "\r\n";
      i += 4;
    } else {
      msg += message[i++];
    }
  }
  std::string line;
  for (size_t i = 0; i < msg.size();) {
    if (msg.compare(i, 2, "\r\n") == 0) {
      line += "; ";
      i += 2;
    } else {
      line += msg[i++];
    }
  }
  m_model.SetText("lblState", "[" + NowText() + "] " + line);
  if (errorLog) WriteError("", msg, show);
  if (runLog) WriteLog(msg);
}

void frmTLVFTP::lblClose_Click() {
  if (m_model.Enabled("btnExit")) ExitRoutine();
}

void frmTLVFTP::TrayLeftClick() {
  if (m_model.WindowShown()) {
    m_model.HideWindow();
  } else {
    m_model.ShowAndRestore();
  }
}

}  // namespace pellan::client
