// Keep-alive and the dead-connection check, Abort, Quit, CloseConnection,
// the control socket's errors, and the error channel.
#include <unistd.h>

#include "ftp/session/reply_parser.h"
#include "ftp/session/ftp_session.h"
#include "net/socket_support.h"
#include "support/error_record.h"

namespace pellan {

namespace {

int64_t WholeSecondsSince(MonoTime then) {
  return std::chrono::duration_cast<std::chrono::seconds>(CurrentClock().Now() - then).count();
}

}  // namespace

void FtpSession::Timer1Tick() {
  // A notification of the control socket failed: the session is dead, close
  // it (the next command reconnects), unless a transfer is still running.
  try {
    const long failedEvent = m_objControlSocket.m_lngPostEventErrorID;
    if (failedEvent > 0 && !MovingFile()) {
      LogLine("--Timer1_Timer--CloseConnection--" + std::to_string(m_lngOperation) + "#" +
              std::to_string(failedEvent));
      m_objControlSocket.m_lngPostEventErrorID = 0;
      CloseConnection();
    }
  } catch (const Raised&) {
  }
  try {
    if (Connected() && m_keepConnSecond > 0 && WholeSecondsSince(m_dtLastActivity) > m_keepConnSecond) {
      m_dtLastActivity = CurrentClock().Now();
      const bool sent = SendFtpCommand("PWD", "no_change_lastsendcommand");
      LogLine(sent ? "Keep Conn Success:" : "Keep Conn Failure:");
    }
  } catch (const Raised&) {
  }
}

void FtpSession::Quit() {
  if (!Connected()) return;
  if (m_lngOperation != kOpNone) {
    RaiseError("Quit", kErrOperationUnfinished);
    return;
  }
  SetOperation(kOpQuit);
  SendFtpCommand("QUIT", "");
}

void FtpSession::CloseConnection() {
  try {
    if (Connected()) {
      Abort();
      Quit();
      EndOperation();
      if (m_objControlSocket.State() != CSocket::kStateClosed) m_objControlSocket.CloseSocket();
      SetFtpState(kFtpClosed, false);
    }
    m_timer1.SetEnabled(false);
  } catch (const Raised& r) {
    ReportError("CloseConnection", r.number, r.description);
  }
}

void FtpSession::Abort() { Stop(false); }

void FtpSession::AbortCurrent() { Stop(true); }

void FtpSession::Stop(bool currentFileOnly) {
  try {
    ++m_aborts;  // ends a pause under way
    AbortRequested(Busy(), currentFileOnly);
    if (!Busy()) return;
    // Anything but a login (whose socket is closed below) leaves an exchange
    // the server may still answer.
    const bool abandoned = m_lngOperation != kOpNone && m_lngOperation != kOpConnect;
    if (m_lngOperation == kOpConnect) {
      m_objControlSocket.CloseSocket();
    } else {
      CutOperation();
    }
    EndOperation();
    // The server still answers the cut exchange (426, 226, the ABOR reply,
    // the reply to a command), at a moment of its choosing; on this session
    // those late replies would be taken for the answers to the next
    // commands. The next command opens a fresh session instead.
    if (abandoned) CloseConnection();
    RaiseError("Abort", kErrCanceled, m_messages.Row(7));
  } catch (const Raised& r) {
    ReportError("Abort", r.number, r.description);
  }
}

void FtpSession::ControlSocketOnError() {
  try {
    LogLine("m_objControlSocket_OnError|" + std::to_string(m_lngOperation) + "|" + std::to_string(ErrorNumber()) + "|" +
            ErrorInfo());
    EndOperation();
    CloseConnection();
  } catch (const Raised& r) {
    ReportError("ControlSocket_OnError", r.number, r.description);
  }
}

// ----------------------------------------------------------------- errors
// One channel: the error record, filled through RaiseError (and the socket
// and file helpers' reports); ErrorNumber and ErrorInfo read it, and OnError
// follows a report.

long FtpSession::ErrorNumber() const { return SharedErrorRecord().Number(); }

std::string FtpSession::ErrorInfo() const { return SharedErrorRecord().Description(); }

void FtpSession::RaiseError(const std::string& source, long number, const std::string& description) {
  m_messages.RaiseError(source, number, description, false);
}

void FtpSession::ReportError(const std::string& procName, long number, const std::string& description,
                             bool showError) {
  m_messages.RaiseError(procName.empty() ? std::string() : "FtpLibrary." + procName, number, description, showError);
  g_blnConnecting = false;
  if (m_lngOperation == kOpConnect && m_objControlSocket.SocketHandle() != -1) m_objControlSocket.CloseSocket();
  EndOperation();
  // After the end, so that the handler may start the next operation.
  RaiseOnError(number);
}

void FtpSession::RaiseOnError(long number) {
  if (!m_raiseErrorEvent || number == kErrCanceled || FileCancelled() || m_quietProbe != 0) return;
  HostEvent([this] {
    if (OnError) OnError();
  });
}

void FtpSession::LogLine(const std::string& text) { SharedErrorRecord().WriteFile(text); }

}  // namespace pellan
