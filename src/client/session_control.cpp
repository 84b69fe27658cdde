// frmTLVFTP's session control: the start button in its five modes, the pass
// timer, the stall watchdog, the companion's activation and exit requests,
// the automatic login, the exit routine and the close handler.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>

#include <unistd.h>

#include "client/client_files.h"
#include "client/headless_front_end.h"
#include "client/main_window.h"
#include "client/path_file.h"
#include "platform/front_end.h"
#include "support/encrypt.h"

namespace pellan::client {

using namespace std::chrono_literals;

namespace {
// Seconds an exit waits for the server to take a cut upload off it.
constexpr long kExitDeleteTimeOut = 5;
}  // namespace

void frmTLVFTP::btnStart_Click() {
  try {
    ClickSteps();
  } catch (const std::exception& e) {
    WriteError("btnStart_Click", e.what(), false);
  }
}

void frmTLVFTP::ClickSteps() {
  const std::string caption = LoginCaption();
  if (caption == kCaptionCancel) {
    WriteStatusFile(kCanFile);
    m_intState = 3;
    ExitRoutine();
    return;
  }
  if (caption == kCaptionRetry || caption == kCaptionLogin || caption == kCaptionAutoLogin) {
    if (caption == kCaptionRetry) WriteStatusFile(kRedoFile);
    SetLoginCaption(kCaptionCancel);
    m_model.SetText("lblCurState", "正在登录");
    SetExitEnabled(false);
    m_model.RefreshLayout();
  } else {
    m_blnRunning = true;
    if (caption == kCaptionStop) {
      WriteStatusFile(kStopFile);
      SetLoginCaption(kCaptionLogin);
      m_timer1.SetEnabled(false);
    }
    m_model.RefreshLayout();
  }

  if (!m_blnRunning) {
    if (!StartSteps()) return;
  } else {
    StopSteps();
  }
  FinalSteps();
}

bool frmTLVFTP::StartSteps() {
  // A failed check leaves btnExit disabled: the program then waits for the
  // companion's exit request.
  if (TrimBlanks(m_model.Text("txtServerName")).empty()) {
    CurrentFrontEnd().MessageBox("服务器地址不能为空", g_strTitle, kMbOkOnly);
    m_model.SetFocus("txtServerName");
    SetLoginCaption(kCaptionLogin);
    m_model.RefreshLayout();
    return false;
  }
  const std::string folder = m_model.Text("txtLocalPath");
  if (TrimBlanks(folder).empty()) {
    CurrentFrontEnd().MessageBox("文件夹不能为空!", g_strTitle, kMbOkOnly);
    SetLoginCaption(kCaptionLogin);
    m_model.RefreshLayout();
    return false;
  }
  if (!ExistFolder(folder)) {
    m_model.SetText("lblCurState", "");
    CurrentFrontEnd().MessageBox("文件夹[" + folder + "]不存在!", g_strTitle, kMbOkOnly);
    SetLoginCaption(kCaptionLogin);
    m_model.RefreshLayout();
    return false;
  }

  m_strFolders = GetFolderListText();

  const CEncrypt cipher;
  m_ftp->SetServerName(cipher.Base64Encrypt(m_model.Text("txtServerName")));
  m_ftp->SetRemotePort(PortNumber(m_model.Text("txtPort")));
  m_ftp->SetUserName(cipher.Base64Encrypt(m_model.Text("txtUserName")));
  m_ftp->SetPassWord(cipher.Base64Encrypt(m_model.Text("txtPassWord")));
  m_ftp->SetRaiseErrorEvent(false);

  ShowState("正在连接服务器...", false, true);

  if (m_ftp->Connect()) {
    m_leftoversCleared.clear();
    m_loginRetry.Succeeded();
    if (m_settings.once) {
      // Whatever waits on the server now is fetched: a single pass has no
      // later window in which an uncleared reply could still come down.
      m_dtLastUpload = Moment::Now();
      m_blnClearPending = false;
    }
    SetLoginCaption(kCaptionStop);
    WriteConnectLog(true, "");
    m_intHideCount = 1;
    m_intState = 1;
    m_model.SetText("lblCurState", "");
    m_model.RefreshLayout();
    m_timer1.SetInterval(Milliseconds(m_intPassInterval));
    m_timer1.SetEnabled(true);
    SetExitEnabled(false);
    m_model.SetText("btnStart", kCaptionStop);
    ShowState("连接成功,正在运行...", false, true);
    WriteLog("------------------------Start------------------------");
    return true;
  }

  const std::string reason = m_ftp->ErrorInfo();
  SetLoginCaption(kCaptionRetry);
  WriteConnectLog(false, reason);
  if (m_settings.once) {
    ShowState("连接远程服务器失败\r\n" + reason, true, true);
    WriteLineNow(STDERR_FILENO, "pellan-sync: login failed: " + reason);
    EndOnce(1);
    return false;
  }
  SetExitEnabled(true);
  m_intState = 2;
  m_model.SetText("lblCurState", "");
  m_model.RefreshLayout();
  if (m_settings.retryLoginSeconds > 0) {
    if (m_loginRetry.Failed()) WriteLog("Next login attempt in " + m_loginRetry.DelayText());
    m_retryTimer.SetInterval(std::chrono::duration_cast<Milliseconds>(m_loginRetry.Delay()));
    m_retryTimer.SetEnabled(true);
  }
  // The failure box is modal on a desktop and may stay up for days: the
  // companion's err.txt and the automatic retry are in place before it, so
  // the retry runs while it is shown. A retry that fails again meanwhile
  // does not stack a second box on the first.
  const bool show = !m_loginBoxShown;
  m_loginBoxShown = true;
  ShowState("连接远程服务器失败\r\n" + reason, true, true, show);
  if (show) m_loginBoxShown = false;
  return false;
}

void frmTLVFTP::StopSteps() {
  m_ftp->Abort();
  m_timer1.SetEnabled(false);
  SetExitEnabled(true);
  m_model.SetText("btnStart", "开启");
  ShowState("已停止");
  WriteLog("------------------------Stop------------------------");
}

void frmTLVFTP::FinalSteps() {
  SetSettingsEnabled(m_blnRunning);
  m_blnRunning = !m_blnRunning;
  if (m_blnRunning) {
    HideWindow();
    Timer1_Timer();
  }
}

void frmTLVFTP::Timer1_Timer() {
  if (m_intState == 1 && m_intHideCount > 0 && m_intHideCount < 5) {
    HideWindow();
    ++m_intHideCount;
  } else {
    m_intHideCount = 0;
  }
  if (LoginCaption() != kCaptionLogin) {
    m_timer1.SetEnabled(false);
    RunPass();
    if (m_settings.once && !m_blnExiting) {
      EndOnce(m_failedAttempts == 0 ? 0 : 1);
      return;
    }
    if (LoginCaption() != kCaptionLogin) {
      m_timer1.SetEnabled(true);
      ShowState("正在运行...");
    }
  }
}

void frmTLVFTP::Timer2_Timer() {
  if (!m_blnRunning) return;
  const bool transfer = m_strDirection == "UP" || m_strDirection == "DOWN";
  const int abortLimit = transfer ? 20 : 10;
  const int closeLimit = transfer ? 25 : 15;

  Moment now = Moment::Now();
  if (SecondBoundaries(m_dtLastActive, now) > abortLimit && !m_blnAbortSent) {
    WriteError("Timer2_Timer", "AT(" + m_strDirection + ":" + std::to_string(abortLimit) + ")[" +
                                   m_dtLastActive.Text() + "#" + now.Text() + "]");
    m_blnAbortSent = true;
    m_dtLastActive = now;
    m_ftp->Abort();
  }
  now = Moment::Now();
  if (SecondBoundaries(m_dtLastActive, now) > closeLimit) {
    WriteError("Timer2_Timer", "RC(" + m_strDirection + ":" + std::to_string(closeLimit) + ")[" +
                                   m_dtLastActive.Text() + "#" + now.Text() + "]");
    m_blnAbortSent = false;
    m_blnForced = true;
    m_ftp->CloseConnection();
  }
}

void frmTLVFTP::Timer3_Timer() {
  if (m_files.TakeActivationRequest()) {
    m_model.ShowAndRestore();
    m_model.SetOnTop(true);
    m_model.BringToFront();
  }
  if (m_files.Exists(kExitFile) && !m_blnExiting) ExitRequest();
}

void frmTLVFTP::Timer4_Timer() {
  // Off before the click: the login it starts waits inside this tick, and
  // nothing may press the button a second time.
  m_timer4.SetEnabled(false);
  btnStart_Click();
}

void frmTLVFTP::RetryTimer_Timer() {
  m_retryTimer.SetEnabled(false);
  if (LoginCaption() == kCaptionRetry && !m_blnExiting) btnStart_Click();
}

void frmTLVFTP::WindowClosed() {
  if (m_blnExiting) return;
  // While a login or a session runs, a close is an exit request: the call
  // under way is cut cleanly, the session quits, clo.txt is written.
  if (m_blnRunning || m_ftp->Busy() || LoginCaption() == kCaptionCancel) {
    RequestExit();
  } else {
    ExitRoutine();
  }
}

void frmTLVFTP::RequestExit() {
  if (!m_blnExiting) ExitRequest();
}

void frmTLVFTP::StatusFileWritten(const std::string& name, bool written) {
  const std::string path = m_files.Path(name);
  if (written) {
    AlertCleared(path);
  } else {
    Alert(path, "Status file not written: [" + path + "] " + std::strerror(errno));
  }
}

void frmTLVFTP::ExitRequest() {
  m_blnExiting = true;
  m_intState = 3;
  // The aborted call ends inside these waits; each ends as soon as the
  // control is no longer busy.
  for (int i = 0; i < 5 && m_ftp->Busy(); ++i) {
    m_ftp->Abort();
    CurrentLoop().WaitFor([this] { return !m_ftp->Busy(); }, 100ms);
  }
  // An upload cut here never returns to its pass, which would take the
  // partial copy off the server: do it now (the local file stays), when its
  // STOR went out and was not refused: otherwise the server's file of the
  // name is not ours to delete. The abort of a transfer ends its session (the server's
  // late replies to it would be read as answers to the next command), so
  // this logs in afresh, with a short time-out: an exit must not wait long
  // for a server that has gone.
  const std::string cut = CutUploadPath();
  if (m_strDirection == "UP" && !cut.empty() && !m_ftp->Busy()) {
    const long timeOut = m_ftp->TimeOut();
    m_ftp->SetTimeOut(std::min(timeOut, kExitDeleteTimeOut));
    m_ftp->DeleteFile(cut);
    m_ftp->SetTimeOut(timeOut);
  }
  ExitRoutine();
}

void frmTLVFTP::DisableTimers() {
  m_timer1.SetEnabled(false);
  m_timer2.SetEnabled(false);
  m_timer3.SetEnabled(false);
  m_timer4.SetEnabled(false);
  m_retryTimer.SetEnabled(false);
}

void frmTLVFTP::ExitRoutine() {
  m_ftp->CloseConnection();
  m_model.RemoveTrayIcon();
  m_files.RemoveActivationFiles();
  DisableTimers();
  if (m_intState == 3) {
    WriteStatusFile(kCloFile);
    EndProgram(0);
    return;
  }
  Form_Unload();
}

void frmTLVFTP::EndOnce(int status) {
  if (m_failedAttempts > 0) {
    WriteLineNow(STDERR_FILENO, "pellan-sync: " + std::to_string(m_failedAttempts) + " file(s) did not move");
  }
  m_ftp->CloseConnection();
  DisableTimers();
  m_files.RemoveActivationFiles();
  WriteLog("------------------------Once: " + std::to_string(status) + "------------------------");
  EndProgram(status);
}

void frmTLVFTP::Form_Unload() {
  if (m_intState == 2) WriteStatusFile(kCloFile);
  m_model.RemoveTrayIcon();
  m_model.HideWindow();
  DisableTimers();
  EndProgram(0);
}

}  // namespace pellan::client
