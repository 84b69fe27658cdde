// The session core: connect and log in, send a command, wait for the end of
// an exchange, read replies on the control connection.
#include <algorithm>
#include <cctype>

#include "ftp/session/reply_parser.h"
#include "ftp/session/ftp_session.h"
#include "net/socket_support.h"
#include "platform/clock.h"
#include "support/error_messages.h"
#include "support/error_record.h"
#include "support/scoped_value.h"
#include "support/text.h"

namespace pellan {

bool g_blnConnecting = false;

namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

constexpr const char* kNoChangeMarker = "no_change_lastsendcommand";

}  // namespace

void FtpSession::Raise(long number, const std::string& description) const {
  throw Raised{number, description};
}

bool FtpSession::Connected() const {
  return m_objControlSocket.State() == CSocket::kStateConnected && m_blnLoggedIn;
}

void FtpSession::SetFtpState(long state, bool announce) {
  m_ftpState = state;
  if (!announce) return;
  HostEvent([this, state] {
    if (OnStateChange) OnStateChange(state);
  });
}

void FtpSession::SetOperation(long operation) {
  SharedErrorRecord().Clear();
  if (operation != kOpAbort && operation != kOpQuit) ++m_operationsStarted;
  m_lngOperation = operation;
}

void FtpSession::EndOperation() {
  ReleaseOperation();
  m_lngOperation = kOpNone;
  SetFtpState(kFtpReady, true);
}

bool FtpSession::RunUntil(const std::function<bool()>& done, MonoTime deadline) {
  const bool held = CurrentLoop().WaitUntil(
      [&] {
        DeliverHostEvents();
        return done();
      },
      deadline);
  if (!held && m_lngOperation != kOpNone) AbandonExchange();
  return held;
}

void FtpSession::Pause(Duration d) {
  const uint64_t aborts = m_aborts;
  RunUntil([&] { return m_aborts != aborts; }, CurrentClock().Now() + d);
}

void FtpSession::WaitForReply(long operation) {
  const MonoTime deadline = CurrentClock().Now() + std::chrono::seconds(TimeOut());
  if (!RunUntil([&] { return ErrorNumber() != 0 || m_lngOperation != operation; }, deadline)) Raise(kErrTimedOut);
  EndFailedOperation(operation);
}

void FtpSession::AbandonExchange() {
  // The server may still answer what was given up, at a moment of its
  // choosing; on this session that late reply would be taken for the answer
  // to the next command. Nothing more is read from it: the next operation
  // logs in afresh.
  LogLine("AbandonExchange:" + std::to_string(m_lngOperation) + "|" + m_strLastCommand);
  CloseDataConnection();
  m_objControlSocket.CloseSocket();
  m_objControlSocket.CloseSocket();  // a second close releases a socket that is closing
  m_timer1.SetEnabled(false);
}

void FtpSession::EndFailedOperation(long operation) {
  if (ErrorNumber() == 0 || m_lngOperation != operation) return;
  // A stalled transfer that the watchdog failed is given up while the server
  // still owes its reply.
  if (ErrorNumber() == kErrTimedOut) {
    AbandonExchange();
  } else {
    CloseDataConnection();
  }
  EndOperation();
}

bool FtpSession::Connect() {
  try {
    if (Connected()) return true;
    if (g_blnConnecting) {
      RaiseError("Connect", kErrConnecting);
      return false;
    }
    LoginRun run;
    const ScopedPointer<LoginRun> current(m_login, &run);
    for (;;) {
      StartLogin();
      const MonoTime deadline = CurrentClock().Now() + std::chrono::seconds(TimeOut());
      const auto settled = [&] { return ErrorNumber() != 0 || m_lngOperation != kOpConnect; };
      if (!RunUntil([&] { return settled() || m_objControlSocket.State() == CSocket::kStateError; }, deadline)) {
        Raise(kErrTimedOut);
      }
      if (settled()) break;
      // The socket failed: one more try, on a fresh socket.
      LogLine("Connect Re " + std::to_string(++run.failedSockets));
      if (run.failedSockets >= 2) Raise(kErrCannotConnect);
      LogLine("ReConnect: [" + LocalPath() + "]|[" + RemotePath() + "]");
      g_blnConnecting = false;
      CloseConnection();
    }
    // A connect that failed on the socket (refused, reset) is over: left
    // set, the flag would refuse every later connect as "Connecting".
    g_blnConnecting = false;
    if (ErrorNumber() != 0) return false;
    if (m_objControlSocket.State() != CSocket::kStateConnected) Raise(kErrCannotConnect);
    // Keep-alive probes on the control connection: a firewall must not
    // drop it silently during a long transfer.
    m_objControlSocket.SetKeepAlive(true);
    m_timer1.SetInterval(Milliseconds(2000));
    m_timer1.SetEnabled(true);
    m_epsvRefused = false;
    SessionOpened();
    m_blnLoggedIn = true;
    run.MoveTo(LoginRun::Step::kLoggedIn);
    return true;
  } catch (const Raised& r) {
    ReportError("Connect", r.number, std::string());
    return false;
  }
}

void FtpSession::StartLogin() {
  SetFtpState(kFtpConnecting, true);
  m_strLastCommand.clear();
  m_strReplyBuffer.clear();
  if (TrimBlanks(m_userName).empty()) m_userName = "anonymous";
  g_blnConnecting = true;
  SetOperation(kOpConnect);
  m_objControlSocket.SetCodePage(m_codePage);
  // "[::1]" and "[::1]:2121" name an IPv6 server (and its port).
  std::string host = m_serverName;
  long port = 0;
  SplitBracketedHost(m_serverName, &host, &port);
  m_tlsServerName = TrimBlanks(host);
  m_objControlSocket.SetRemoteHost(host);
  m_objControlSocket.SetRemotePort(port != 0 ? port : RemotePort());
  // The server speaks first: a close before its greeting is a failed
  // connect, not a quiet end.
  m_objControlSocket.SetExpectsGreeting(true);
  m_objControlSocket.Connect();
}

void FtpSession::MoveLogin(LoginRun::Step next) {
  if (m_login != nullptr) m_login->MoveTo(next);
}

bool FtpSession::ReConnect() {
  LogLine("ReConnect: [" + LocalPath() + "]|[" + RemotePath() + "]");
  g_blnConnecting = false;
  CloseConnection();
  return Connect();
}

bool FtpSession::SendFtpCommand(const std::string& command, std::string argument) {
  try {
    if (m_objControlSocket.State() != CSocket::kStateConnected) {
      LogLine("ReConnect SendFtpCommand=" + command);
      // Logging in afresh is an operation of its own: the one this command
      // belongs to is put back once it is over, whatever its outcome.
      struct PutBack {
        long& slot;
        const long value;
        ~PutBack() { slot = value; }
      } putBack{m_lngOperation, m_lngOperation};
      // Three tries a second apart; the loop runs meanwhile.
      for (int tries = 1; !ReConnect(); ++tries) {
        if (tries == 3) Raise(ErrorNumber() != 0 ? ErrorNumber() : static_cast<long>(kErrReconnectFailed));
        LogLine("ReConnect" + std::to_string(tries) + " SendFtpCommand=" + command);
        Pause(std::chrono::seconds(1));
      }
    }

    const std::string verb = Upper(command);
    const bool marker = argument == kNoChangeMarker;
    if (marker) argument.clear();
    std::string sent = argument;
    if (!sent.empty() && (verb == "USER" || verb == "PASS")) {
      // The host hands these over enciphered; "anonymous" is the control's
      // own plain substitute for a blank user name.
      if (!(verb == "USER" && sent == "anonymous")) sent = m_encrypt.DecryptSiteInfo(sent, "base64");
      if (sent.empty() && verb == "USER") sent = "anonymous";
    }
    // A line break inside an argument would let a name smuggle in a command
    // of its own, and a NUL cuts the line short at many servers: refuse the
    // whole line.
    const std::string unsafe("\r\n\0", 3);
    if (command.find_first_of(unsafe) != std::string::npos || sent.find_first_of(unsafe) != std::string::npos) {
      Raise(kErrUnsafeCommand, "Command refused: its argument holds a line break or a NUL");
    }

    m_strReplyBuffer.clear();
    m_ftpState = kFtpReady;
    long state = kFtpReady;
    if (verb == "USER" || verb == "PASS") state = kFtpLoggingIn;
    else if (verb == "CWD") state = kFtpChangingDirectory;
    else if (verb == "LIST" || verb == "PWD") state = kFtpListing;
    else if (verb == "MKD") state = kFtpMakingDirectory;
    else if (verb == "DELE") state = kFtpDeleting;
    else if (verb == "RETR") state = kFtpDownloading;
    else if (verb == "RMD") state = kFtpRemovingDirectory;
    else if (verb == "RNFR") state = kFtpRenaming;
    else if (verb == "STOR") state = kFtpUploading;
    else if (verb == "QUIT") state = kFtpQuitting;
    else if (verb == "TYPE" || verb == "PASV" || verb == "PORT" || verb == "REST" || verb == "EPSV" ||
             verb == "EPRT") {
      switch (m_lngOperation) {
        case kOpDownload: state = kFtpDownloading; break;
        case kOpUpload: state = kFtpUploading; break;
        case kOpList: state = kFtpListing; break;
        case kOpSize: state = kFtpQueryingSize; break;
        default: break;
      }
    }
    SetFtpState(state, true);
    if (!marker) m_strLastCommand = command;

    const std::string line = sent.empty() ? command + "\r\n" : command + " " + sent + "\r\n";
    m_objControlSocket.SendData(line, -1, verb == "LIST" && !m_passiveMode);
    if (m_tlsMode != 0 && (verb == "RETR" || verb == "STOR" || verb == "LIST")) {
      m_dataTlsDue = true;
      StartDataTls();
    }
    CommandSent(verb);
    RaiseServerMessage(command + " " + (command == "PASS" ? std::string("********") : sent), 0);
    return true;
  } catch (const Raised& r) {
    const long number = ErrorNumber();
    RaiseError("SendFtpCommand", number != 0 ? number : r.number, number != 0 ? ErrorInfo() : r.description);
    // The command never went: the operation it belongs to is over, and ends
    // here whoever sent it (a caller, or a reply that called for it).
    if (m_lngOperation != kOpNone) EndFailedOperation(m_lngOperation);
    return false;
  }
}

bool FtpSession::GetDirFromResponse() {
  return ParseDirectoryReply(m_strReplyBuffer, &m_currentDirectory);
}

// ------------------------------------------------------ control socket events

void FtpSession::ControlSocketOnConnect() {
  MoveLogin(LoginRun::Step::kGreeting);
  SetFtpState(kFtpConnected, true);
  if (m_tlsMode != 2) return;
  // Implicit TLS: the handshake comes first, the greeting through it.
  m_objControlSocket.OnTlsReady = InCallback([this] { LogLine("TLS: " + m_objControlSocket.TlsText()); });
  if (!m_tlsContext.Configure(m_tlsTrust) ||
      !m_objControlSocket.StartTls(m_tlsContext, m_tlsServerName, nullptr)) {
    RaiseError("Connect", kErrTlsHandshake,
               ErrorMessages::Fill(m_messages.GetErrorMessage(kErrTlsHandshake), {m_tlsContext.Error()}));
    CloseConnection();
  }
}

long FtpSession::TlsModeNamed(const std::string& name) {
  if (name == "off") return 0;
  if (name == "require") return 1;
  return name == "implicit" ? 2 : -1;
}

void FtpSession::ControlSocketOnDataArrival() {
  m_dtLastActivity = CurrentClock().Now();
  // With no operation under way the chunk is left unread: a late reply must
  // never be taken for the reply to the next command.
  if (m_lngOperation == kOpNone) return;
  int code = 0;
  try {
    std::string chunk;
    m_objControlSocket.GetData(chunk);
    m_strLastReply = TrimBlanks(chunk);
    m_strReplyBuffer += chunk;
    if (m_strReplyBuffer.size() > kMaxReplyBytes) {
      m_strReplyBuffer.clear();
      Raise(kErrReplyTooLong, "The server's reply is longer than 64 KiB");
    }
    code = GetResponseCode(m_strReplyBuffer);
    if (code == 0) return;
    std::string shown = m_strLastReply;
    if (shown.size() >= 2 && shown.compare(shown.size() - 2, 2, "\r\n") == 0) shown.resize(shown.size() - 2);
    RaiseServerMessage(shown, code < 400 ? 1 : 2);
    if (m_lngOperation == kOpNone) {
      // The host's handler ended the operation meanwhile.
      if (code == 421) {
        LogLine("CloseConnection 421 Timeout (no new data for 900 seconds)--" + RemotePath() + "--" + LocalPath());
        CloseConnection();
      }
      return;
    }
    DispatchReply(code);
  } catch (const Raised& r) {
    ReplyErrorPath(r.number, r.description);
  }
}

void FtpSession::ReplyErrorPath(long number, std::string description) {
  const bool replyError = number >= 16001 && number <= 16999;
  if (replyError && number != kErrCanceled && !m_strLastReply.empty()) {
    description = GetResponseInfo(m_strLastReply);
  } else if (!replyError) {
    RaiseError("ControlSocket_OnDataArrival", number, description);
  }
  if (!UsesDataConnection()) {
    ReportError("ControlSocket_OnDataArrival", number, description);
  } else if (replyError) {
    // A refused transfer or listing must not end looking like a success.
    RaiseError("ControlSocket_OnDataArrival", number, description);
  }
  EndOperation();
  CloseDataConnection();
  // The rest of an over-long reply would be read as the answer to the next
  // command: the session is given up.
  if (number == kErrReplyTooLong) AbandonExchange();
  // 421: the server is closing the session. Closed here, the next command
  // logs in afresh instead of going to a connection whose close has not
  // been seen yet.
  if (number == kErrReplyBase + 421) {
    CloseConnection();
    RaiseError("ControlSocket_OnDataArrival", number, description);  // QUIT cleared the record
  }
}

void FtpSession::ControlSocketOnClose() {
  if (m_lngOperation == kOpNone) {
  } else if (UnansweredFails()) {
    // The server left before answering: what was asked is not known to
    // have happened, so the command fails instead of ending as if its reply
    // had come.
    CloseDataConnection();
    ReportError("ControlSocket_OnClose", kErrConnectionInterrupted, std::string());
  } else {
    EndOperation();
  }
  SetFtpState(kFtpClosed, true);
}

}  // namespace pellan
