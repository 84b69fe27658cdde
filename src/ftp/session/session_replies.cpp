// The session's own replies: the greeting and login, QUIT and ABOR, and the
// actions every layer's reply table shares.
#include "ftp/session/ftp_session.h"

#include <openssl/ssl.h>

#include "net/socket_support.h"
#include "support/error_messages.h"
#include "support/text.h"
#include "ftp/session/reply_table.h"

namespace pellan {

// clang-format off
const ReplyRow<FtpSession> FtpSession::kReplies[] = {
    // connect and log in: the greeting, USER, PASS
    {kOpConnect, "",     220,        &FtpSession::ActGreeting},
    {kOpConnect, "",     226,        &FtpSession::ActIgnore},
    {kOpConnect, "",     257,        &FtpSession::ActIgnore},
    {kOpConnect, "",     kOtherCode, &FtpSession::ActCloseAndFail},
    {kOpConnect, "USER", 331,        &FtpSession::ActSendPass},
    {kOpConnect, "USER", 230,        &FtpSession::ActLoggedIn},
    {kOpConnect, "USER", 257,        &FtpSession::ActIgnore},
    {kOpConnect, "USER", kOtherCode, &FtpSession::ActCloseAndFail},
    {kOpConnect, "PASS", 202,        &FtpSession::ActLoggedIn},
    {kOpConnect, "PASS", 230,        &FtpSession::ActLoggedIn},
    {kOpConnect, "PASS", 257,        &FtpSession::ActIgnore},
    {kOpConnect, "PASS", kOtherCode, &FtpSession::ActCloseAndFail},
    {kOpConnect, "AUTH", 234,        &FtpSession::ActStartTls},
    {kOpConnect, "AUTH", kOtherCode, &FtpSession::ActTlsRefused},
    {kOpConnect, "PBSZ", 200,        &FtpSession::ActSendProt},
    {kOpConnect, "PBSZ", kOtherCode, &FtpSession::ActCloseAndFail},
    {kOpConnect, "PROT", 200,        &FtpSession::ActLoggedIn},
    {kOpConnect, "PROT", kOtherCode, &FtpSession::ActCloseAndFail},
    {kOpConnect, "PWD",  257,        &FtpSession::ActLoginPwd},
    {kOpConnect, "PWD",  kOtherCode, &FtpSession::ActCloseAndFail},
    // QUIT
    {kOpQuit,    "QUIT", 221,        &FtpSession::ActQuitDone},
    {kOpQuit,    "QUIT", 257,        &FtpSession::ActIgnore},
    {kOpQuit,    "QUIT", kOtherCode, &FtpSession::ActFail},
    // abort: whatever comes
    {kOpAbort,   kAnyCommand, kOtherCode, &FtpSession::ActAbortDone},
};
// clang-format on

bool FtpSession::DispatchReply(int code) {
  return RunReplyTable(*this, kReplies, m_lngOperation, m_strLastCommand, code);
}

void FtpSession::ActIgnore(int) {}

void FtpSession::ActEnd(int) { EndOperation(); }

void FtpSession::ActFail(int code) { FailReply(code); }

void FtpSession::ActCloseAndFail(int code) {
  CloseConnection();
  FailReply(code);
}

void FtpSession::ActSendUser(int) {
  MoveLogin(LoginRun::Step::kUserSent);
  SendFtpCommand("USER", m_userName);
}

void FtpSession::ActSendPass(int) {
  MoveLogin(LoginRun::Step::kPassSent);
  SendFtpCommand("PASS", m_passWord);
}

void FtpSession::ActGreeting(int code) {
  if (m_tlsMode != 1) return ActSendUser(code);  // plain, or TLS from the first byte
  if (!m_tlsContext.Configure(m_tlsTrust)) {
    Raise(kErrTlsHandshake, ErrorMessages::Fill(m_messages.GetErrorMessage(kErrTlsHandshake), {m_tlsContext.Error()}));
  }
  SendFtpCommand("AUTH", "TLS");
}

void FtpSession::ActStartTls(int) {
  m_objControlSocket.OnTlsReady = InCallback([this] {
    LogLine("TLS: " + m_objControlSocket.TlsText());
    ActSendUser(0);
  });
  m_objControlSocket.StartTls(m_tlsContext, m_tlsServerName, nullptr);
}

void FtpSession::ActTlsRefused(int code) {
  // Nothing more goes to a server that will not protect the password.
  std::string reply = m_strReplyBuffer;
  reply.erase(reply.find_last_not_of("\r\n ") + 1);
  Raise(kErrTlsRefused, ErrorMessages::Fill(m_messages.GetErrorMessage(kErrTlsRefused), {std::to_string(code), reply}));
}

void FtpSession::ActSendProt(int) { SendFtpCommand("PROT", "P"); }

void FtpSession::ActLoggedIn(int) {
  if (m_tlsMode != 0 && m_strLastCommand != "PROT") {
    SendFtpCommand("PBSZ", "0");
    return;
  }
  if (m_tlsMode != 0) {
    // Under TLS 1.3 the session ticket comes after the handshake; by now
    // the replies read since have brought it.
    if (m_tlsSession != nullptr) SSL_SESSION_free(m_tlsSession);
    m_tlsSession = m_objControlSocket.TlsSession();
  }
  SetFtpState(kFtpLoggedIn, false);
  EndOperation();
}

void FtpSession::ActLoginPwd(int) {
  if (GetDirFromResponse()) {
    EndOperation();
    return;
  }
  RaiseError("ControlSocket_OnDataArrival", kErrNoDirectoryInReply,
             "Cannot retrieve the current directory path. Unexpected server response.");
  CloseConnection();
}

void FtpSession::ActQuitDone(int) {
  EndOperation();
  m_objControlSocket.CloseSocket();
}

void FtpSession::ActAbortDone(int) {
  CloseDataConnection();
  EndOperation();
  Raise(kErrCanceled, m_messages.GetErrorMessage(kErrCanceled));
}

void FtpSession::ActPasv(int) { EstablishPasvDataConnection(m_strReplyBuffer); }

void FtpSession::ActEpsv(int) { EstablishEpsvDataConnection(m_strReplyBuffer); }

void FtpSession::ActEpsvRefused(int code) {
  if (code < 500 || code > 599) return ActFail(code);
  m_epsvRefused = true;
  LogLine("EPSV refused (" + std::to_string(code) + "): PASV for the rest of the session");
  SendFtpCommand("PASV", "");
}

void FtpSession::ActSendDataSetup(int) { SendDataConnectionSetup(); }

}  // namespace pellan
