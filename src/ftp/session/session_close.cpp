// FtpLibrary: keep-alive and the dead-connection check, the transfer
// watchdog, Abort, Quit, CloseConnection and the control socket's errors.
#include <unistd.h>

#include "ftp/session/reply_parser.h"
#include "ftp/ftp_library.h"
#include "ftp/remote/listing_run.h"
#include "ftp/transfer/transfer_run.h"
#include "net/socket_support.h"
#include "support/error_record.h"

namespace pellan {

namespace {

int64_t WholeSecondsSince(MonoTime then) {
  return std::chrono::duration_cast<std::chrono::seconds>(CurrentClock().Now() - then).count();
}

}  // namespace

void FtpLibrary::Timer1Tick() {
  // A notification of the control socket failed: the session is dead, close
  // it (the next command reconnects), unless a transfer is still running.
  try {
    const long failedEvent = m_objControlSocket.m_lngPostEventErrorID;
    if (failedEvent > 0 && m_lngOperation != kOpDownload && m_lngOperation != kOpUpload) {
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

void FtpLibrary::TimeouterTick() {
  try {
    if (m_lngOperation != kOpDownload && m_lngOperation != kOpUpload) return;
    if (m_transfer == nullptr || WholeSecondsSince(m_transfer->lastSample) <= TimeOut()) return;
    const bool upload = m_lngOperation == kOpUpload;
    if (!upload || m_transferSize < m_fileSize) {
      // A download counts only once the server confirms it, so a stalled
      // one fails even when every byte seems to be there.
      RaiseError(upload ? "Timeout_Timer:Upload" : "Timeout_Timer:Download", kErrTimedOut);
      return;
    }
    // Everything went out but the server never confirmed the file: the
    // session is not to be trusted; the upload asks the server's size of
    // the file over a new session before it counts the file as sent.
    EndOperation();
    CloseLocalFile();
    CloseConnection();
    LogLine("Timeouter_Timer:Upload:EndAsyncMethod");
  } catch (const Raised&) {
  }
}

void FtpLibrary::Abort() {
  try {
    m_retryCount = m_reDoTimes;  // no retry after an abort
    m_abortRetry = true;
    if (!Busy()) return;
    m_abortAll = true;
    // Anything but a login (whose socket is closed below) leaves an exchange
    // the server may still answer.
    const bool abandoned = m_lngOperation != kOpNone && m_lngOperation != kOpConnect;
    switch (m_lngOperation) {
      case kOpConnect:
        m_objControlSocket.CloseSocket();
        break;
      case kOpDownload:
        CloseDataConnection();
        CloseLocalFile();
        break;
      case kOpUpload:
        CloseLocalFile();
        SetOperation(kOpAbort);
        SendFtpCommand("ABOR", "");
        // The server stops writing the file only when the data ends.
        CloseDataConnection();
        break;
      case kOpList:
        if (m_listing != nullptr) m_listing->buffer.Release();
        CloseDataConnection();
        break;
      default:
        break;
    }
    EndOperation();
    // The server still answers the cut exchange (426, 226, the ABOR reply,
    // the reply to a command), at a moment of its choosing; on this session
    // those late replies would be taken for the answers to the next
    // commands. The next command opens a fresh session instead.
    if (abandoned) CloseConnection();
    RaiseError("Abort", kErrCanceled, m_messages.Row(7));
  } catch (const Raised& r) {
    m_abortAll = false;
    ReportError("Abort", r.number, r.description);
  }
}

void FtpLibrary::AbortCurrent() {
  m_abortCurrent = true;
  Abort();
}

void FtpLibrary::Quit() {
  if (!Connected()) return;
  if (m_lngOperation != kOpNone) {
    RaiseError("Quit", kErrOperationUnfinished);
    return;
  }
  SetOperation(kOpQuit);
  SendFtpCommand("QUIT", "");
}

void FtpLibrary::CloseConnection() {
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

void FtpLibrary::ControlSocketOnError() {
  try {
    m_lngErrorNumber = ErrorNumber();
    m_strErrorText = ErrorInfo();
    LogLine("m_objControlSocket_OnError|" + std::to_string(m_lngOperation) + "|" + std::to_string(m_lngErrorNumber) +
            "|" + m_strErrorText);
    EndOperation();
    CloseConnection();
  } catch (const Raised& r) {
    ReportError("ControlSocket_OnError", r.number, r.description);
  }
}

void FtpLibrary::CloseLocalFile() {
  if (m_transfer != nullptr) m_transfer->CloseLocalFile();
}

// ----------------------------------------------------------------- errors

long FtpLibrary::ErrorNumber() const {
  const long recorded = SharedErrorRecord().Number();
  return recorded != 0 ? recorded : m_lngErrorNumber;
}

std::string FtpLibrary::ErrorInfo() const {
  const std::string& recorded = SharedErrorRecord().Description();
  return !recorded.empty() ? recorded : m_strErrorText;
}

void FtpLibrary::RaiseError(const std::string& source, long number, const std::string& description) {
  m_messages.RaiseError(source, number, description, false);
}

void FtpLibrary::ReportError(const std::string& procName, long number, const std::string& description,
                             bool showError) {
  m_messages.RaiseError(procName.empty() ? std::string() : "FtpLibrary." + procName, number, description, showError);
  g_blnConnecting = false;
  if (m_lngOperation == kOpConnect && m_objControlSocket.SocketHandle() != -1) m_objControlSocket.CloseSocket();
  if (m_lngOperation == kOpDownload || m_lngOperation == kOpUpload) CloseLocalFile();
  EndOperation();
  // After the end, so that the handler may start the next operation.
  RaiseOnError(number);
}

void FtpLibrary::RaiseOnError(long number) {
  if (!m_raiseErrorEvent || number == kErrCanceled || m_abortCurrent || m_quietProbe != 0) return;
  HostEvent([this] {
    if (OnError) OnError();
  });
}

void FtpLibrary::LogLine(const std::string& text) { SharedErrorRecord().WriteFile(text); }

}  // namespace pellan
