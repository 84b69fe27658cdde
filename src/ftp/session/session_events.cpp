// The session's construction, the events of its sockets and timer, the
// delivery of host events, and the connection properties' store rules.
#include <algorithm>

#include "ftp/session/ftp_session.h"

#include <openssl/ssl.h>
#include "net/socket_support.h"
#include "platform/clock.h"
#include "support/error_record.h"
#include "support/file.h"
#include "support/text.h"

namespace pellan {

// A socket's or timer's callback under way: the watch of that socket is
// paused until it returns, so a handler run from inside it could not read
// the replies of an operation it started.
struct FtpSession::CallbackScope {
  explicit CallbackScope(FtpSession& control) : m_control(control) { ++m_control.m_callbackDepth; }
  ~CallbackScope() {
    if (--m_control.m_callbackDepth > 0 || m_control.m_hostEvents.empty() || m_control.m_deliveryPosted) return;
    // No wait may be under way to deliver them (an idle control's keep-alive
    // reply, a close): a call on the loop's next turn does.
    m_control.m_deliveryPosted = true;
    CurrentLoop().Post([alive = std::weak_ptr<bool>(m_control.m_alive), control = &m_control] {
      if (alive.expired()) return;
      control->m_deliveryPosted = false;
      control->DeliverHostEvents();
    });
  }
  FtpSession& m_control;
};

std::function<void()> FtpSession::InCallback(std::function<void()> callback) {
  return [this, callback = std::move(callback)] {
    CallbackScope in(*this);
    callback();
  };
}

FtpSession::FtpSession() {
  SetCurrentErrorMessages(&m_messages);
  if (SharedErrorRecord().LogFilePath().empty()) SharedErrorRecord().SetLogFilePath(EngineLogPath());
  // The socket layer records its errors and log lines where the engine does.
  SetSocketReporting(SocketReporting{
      [](const std::string& source, int number, const std::string& description) {
        // A text with a place for the socket's detail (a TLS failure) gets it.
        ErrorMessages& messages = CurrentErrorMessages();
        const std::string text = description.empty() ? "" : messages.GetErrorMessage(number);
        messages.RaiseError(source, number,
                            text.find("{0}") != std::string::npos ? ErrorMessages::Fill(text, {description}) : description,
                            false);
      },
      [](const std::string& line) { SharedErrorRecord().WriteFile(line); }});

  m_objControlSocket.OnConnect = InCallback([this] { ControlSocketOnConnect(); });
  m_objControlSocket.OnDataArrival = [this](double) { CallbackScope in(*this); ControlSocketOnDataArrival(); };
  m_objControlSocket.OnClose = InCallback([this] { ControlSocketOnClose(); });
  m_objControlSocket.OnError = InCallback([this] { ControlSocketOnError(); });
  m_objDataSocket.OnConnect = InCallback([this] {
    try {
      DataConnected();
    } catch (const Raised& r) {
      ReportError("OnConnect", r.number, r.description);
    }
  });
  m_objDataSocket.OnConnectionRequest = [this](long id) { CallbackScope in(*this); DataSocketOnConnectionRequest(id); };
  m_objDataSocket.OnDataArrival = [this](double) {
    CallbackScope in(*this);
    m_dtLastActivity = CurrentClock().Now();
    DataArrived();
  };
  m_objDataSocket.OnClose = InCallback([this] {
    try {
      DataClosed();
    } catch (const Raised& r) {
      ReportError("ControlSocket_OnClose", r.number, r.description);
    }
  });
  m_objDataSocket.OnError = InCallback([this] { DataSocketOnError(); });
  m_objDataSocket.OnSendComplete = InCallback([this] { DataSendComplete(); });
  m_timer1 = LoopTimer(Milliseconds(2000), InCallback([this] { Timer1Tick(); }), false);
  m_dtLastActivity = CurrentClock().Now();
}

FtpSession::~FtpSession() {
  if (m_tlsSession != nullptr) SSL_SESSION_free(m_tlsSession);
  m_timer1.SetEnabled(false);
  m_hostEvents.clear();
  if (m_objControlSocket.SocketHandle() != -1) m_objControlSocket.CloseSocket();
  if (&CurrentErrorMessages() == &m_messages) SetCurrentErrorMessages(nullptr);
}

void FtpSession::Shutdown() {
  m_timer1.SetEnabled(false);
  // Events of a control that is going away reach nobody.
  OnError = nullptr;
  ServerMessage = nullptr;
  OnStateChange = nullptr;
  m_hostEvents.clear();
  if (Connected()) {
    if (MovingFile()) Abort();
    Quit();
  }
  if (m_objControlSocket.SocketHandle() != -1) m_objControlSocket.CloseSocket();
  m_ftpState = kFtpClosed;
  ReleaseOperation();
}

// ---------------------------------------------------------------- host events

void FtpSession::HostEvent(std::function<void()> event) {
  m_hostEvents.push_back(std::move(event));
  if (m_callbackDepth == 0) DeliverHostEvents();
}

void FtpSession::DeliverHostEvents() {
  // One at a time: an operation a handler starts delivers the rest, in order.
  // What a handler's own operations leave in the error record is theirs: the
  // operation that raised the event still ends with its own result (an
  // Abort or a close is meant for it).
  while (m_callbackDepth == 0 && !m_hostEvents.empty()) {
    std::function<void()> event = std::move(m_hostEvents.front());
    m_hostEvents.pop_front();
    CError& record = SharedErrorRecord();
    const CError saved = record;
    const uint64_t started = m_operationsStarted;
    event();
    if (m_operationsStarted == started) continue;
    record.SetNumber(saved.Number());
    record.SetDescription(saved.Description());
    record.SetSource(saved.Source());
  }
}

void FtpSession::RaiseServerMessage(const std::string& message, long messageType) {
  HostEvent([this, message, messageType] {
    if (ServerMessage) ServerMessage(message, messageType);
  });
}

// ------------------------------------------------------ connection properties

void FtpSession::SetServerName(const std::string& enciphered) {
  m_serverName = m_encrypt.DecryptSiteInfo(enciphered, "base64");
}

void FtpSession::SetRemotePort(long port) {
  // Any TCP port; the old 16-bit limit is gone.
  m_remotePort = (port < 1 || port > 65535) ? 21 : port;
}

void FtpSession::SetRemotePath(const std::string& path) { m_remotePath = TrimBlanks(path); }

std::string FtpSession::LocalPath() {
  m_localPath = CFile().FormatPath(m_localPath);
  return m_localPath;
}

void FtpSession::SetLocalPath(const std::string& path) { m_localPath = TrimBlanks(path); }

void FtpSession::SetTimeOut(long seconds) { m_timeOut = (seconds >= 30 && seconds <= 6000) ? seconds : 30; }

void FtpSession::SetKeepConnSecond(long seconds) {
  if (seconds < 0) seconds = 0;
  if (seconds >= 1 && seconds <= 29) seconds = 30;
  m_keepConnSecond = seconds;
}

bool FtpSession::SetCodePage(const std::string& name) {
  const auto cp = ParseCodePage(name);
  if (!cp) return false;
  m_codePage = *cp;
  m_objControlSocket.SetCodePage(m_codePage);
  m_objDataSocket.SetCodePage(m_codePage);
  return true;
}

void FtpSession::SetChunkSize(long kilobytes) {
  const int64_t bytes = static_cast<int64_t>(kilobytes) * 1024;
  m_chunkSize = static_cast<long>(std::clamp<int64_t>(bytes, 10240, 2048000));
}

}  // namespace pellan
