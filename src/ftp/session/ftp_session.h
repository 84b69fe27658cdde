// FtpSession: the session layer of the FTP control. It owns the control
// connection and the data connection, logs in, sends commands and reads
// their replies, keeps an idle session alive, quits and aborts, and records
// errors. It knows nothing of what runs over the data connection: the layers
// built on it (remote folders and files, transfers) take the replies and the
// data socket's events of their own operations through the hooks below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "ftp/session/ftp_values.h"
#include "ftp/session/login_run.h"
#include "ftp/session/reply_table.h"
#include "net/csocket.h"
#include "platform/code_page.h"
#include "platform/event_loop.h"
#include "support/encrypt.h"
#include "support/error_messages.h"

namespace pellan {

// A connect of some control of the process is under way: another control's
// Connect is refused (16007) until it ends.
extern bool g_blnConnecting;

class FtpSession {
 public:
  FtpSession();
  virtual ~FtpSession();
  FtpSession(const FtpSession&) = delete;
  FtpSession& operator=(const FtpSession&) = delete;

  // ---- events
  // Raised from the engine's own code, or (for what a socket or timer
  // callback raises) once that callback has returned: a handler may start
  // another operation and see it finish.
  std::function<void()> OnError;
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
  // FTP over TLS (explicit, AUTH TLS): 0, the default, is plain FTP; 1
  // requires TLS for the login and for every data connection (PBSZ 0, PROT
  // P), each data connection resuming the control connection's session. A
  // server that refuses TLS, or whose certificate does not pass, fails the
  // login before the password goes. The certificate is checked against the
  // system's trust store (or TlsCaFile) and the server's name or address;
  // with TlsPin ("sha256:" and its SHA-256) exactly that certificate passes.
  // 2 is implicit TLS (a server that speaks TLS from the first byte, usually
  // on port 990): no AUTH TLS, otherwise as 1.
  long TlsMode() const { return m_tlsMode; }
  void SetTlsMode(long mode) { m_tlsMode = mode == 1 || mode == 2 ? mode : 0; }
  // The mode a command line names: "off" 0, "require" 1, "implicit" 2; -1
  // for anything else.
  static long TlsModeNamed(const std::string& name);
  const std::string& TlsCaFile() const { return m_tlsTrust.caFile; }
  void SetTlsCaFile(const std::string& file) { m_tlsTrust.caFile = file; }
  const std::string& TlsPin() const { return m_tlsTrust.pin; }
  void SetTlsPin(const std::string& pin) { m_tlsTrust.pin = pin; }
  // TLS 1.2 at most, for a server that fails under TLS 1.3.
  bool Tls12Only() const { return m_tlsTrust.tls12Only; }
  void SetTls12Only(bool v) { m_tlsTrust.tls12Only = v; }
  // The control connection's TLS ("TLSv1.3 TLS_AES_256_GCM_SHA384"), "" without.
  std::string TlsInfo() const { return m_objControlSocket.TlsText(); }

  // Passive mode asks with EPSV first (always on an IPv6 connection); a
  // server that refuses it (any 5xx) gets PASV for the rest of the session.
  bool ExtendedPassive() const { return m_extendedPassive; }
  void SetExtendedPassive(bool v) { m_extendedPassive = v; }
  long TimeOut() const { return m_timeOut < 1 ? 30 : m_timeOut; }
  void SetTimeOut(long seconds);
  void SetKeepConnSecond(long seconds);
  long KeepConnSecond() const { return m_keepConnSecond; }  // for hosts that show it
  // The code page of command lines, replies and listings ("UTF-8" or "GBK").
  std::string CodePage() const { return CodePageName(m_codePage); }
  bool SetCodePage(const std::string& name);
  // The data connection's read and write size.
  long ChunkSize() const { return m_chunkSize; }
  void SetChunkSize(long kilobytes);
  // The data connection moves at most this many bytes a second each way
  // (0, the default: as fast as it can).
  double RateLimit() const { return m_objDataSocket.RateLimit(); }
  void SetRateLimit(double bytesPerSecond) { m_objDataSocket.SetRateLimit(bytesPerSecond); }

  // ---- session values
  long FtpState() const { return m_ftpState; }
  long ErrorNumber() const;
  std::string ErrorInfo() const;
  bool Connected() const;
  bool Busy() const { return m_ftpState != kFtpReady && m_ftpState != kFtpClosed; }
  std::string CurrentDirectory() const { return m_currentDirectory; }
  // The message texts of the current language joined by "|"; storing 43
  // texts replaces the English column and makes it current.
  std::string Text() const { return m_messages.Text(); }
  void SetText(const std::string& text) { m_messages.SetText(text); }
  // The language of the messages (0 English, 1 Simplified Chinese,
  // 2 Traditional Chinese, 3 Japanese); chosen from the user's at creation.
  int Language() const { return m_messages.Language(); }
  void SetLanguage(int language) { m_messages.SetLanguage(language); }
  ErrorMessages& Messages() { return m_messages; }
  bool RaiseErrorEvent() const { return m_raiseErrorEvent; }
  void SetRaiseErrorEvent(bool v) { m_raiseErrorEvent = v; }

  // ---- session operations
  bool Connect();
  void CloseConnection();
  void Abort();
  void AbortCurrent();

  // ---- for tests and diagnostics
  long Operation() const { return m_lngOperation; }
  const std::string& LastCommand() const { return m_strLastCommand; }
  const CSocket& ControlSocket() const { return m_objControlSocket; }
  bool KeepAliveRunning() const { return m_timer1.Enabled(); }

 protected:
  // An error raised inside an operation: caught by the operation's own
  // handler, never beyond the control.
  struct Raised {
    long number;
    std::string description;
    bool reported = false;  // already recorded and announced by a lower layer
  };
  [[noreturn]] void Raise(long number, const std::string& description = std::string()) const;

  // A socket's or timer's callback under way (see HostEvent).
  struct CallbackScope;
  // Wraps a callback of a socket or timer of this control in a CallbackScope.
  std::function<void()> InCallback(std::function<void()> callback);

  // ---- hooks of the layers above, for their own operations
  // The reply `code` completed an exchange: true when a row of the layer's
  // reply table took it.
  virtual bool DispatchReply(int code);
  virtual void CommandSent(const std::string& /*verb*/) {}
  virtual void DataSetupStarting() {}
  virtual void DataConnected() {}
  virtual void DataAccepted() {}
  virtual void DataArrived() {}
  virtual void DataClosed() {}
  virtual void DataFailed() {}
  virtual void DataSendComplete() {}
  // Abort (or, with `currentFileOnly`, AbortCurrent) was called, with an
  // operation under way (`busy`) or not.
  virtual void AbortRequested(bool /*busy*/, bool /*currentFileOnly*/) {}
  // AbortCurrent cancelled the file under way: its failure is no error a
  // host hears of through OnError.
  virtual bool FileCancelled() const { return false; }
  // Cuts the operation under way for Abort (its data connection, its file).
  virtual void CutOperation() {}
  // Whatever the operation under way holds open locally (a file): released
  // whenever an operation ends.
  virtual void ReleaseOperation() {}
  // The operation moves a file: a dead control connection is left to it.
  virtual bool MovingFile() const { return false; }
  // A refused reply fails the operation with the reply's text rather than
  // being reported on the control (operations over a data connection).
  virtual bool UsesDataConnection() const { return false; }
  // What was asked is not known to have happened when the server leaves
  // before answering.
  virtual bool UnansweredFails() const { return false; }
  // Logged in: the layers above start what they watch a session with.
  virtual void SessionOpened() {}

  // Quits a session still open and releases what an operation holds: the
  // first thing the most derived layer's destructor does, while every
  // layer's hooks are still there.
  void Shutdown();

  // ---- session core
  bool SendFtpCommand(const std::string& command, std::string argument);
  bool ReConnect();
  // One attempt of a Connect: the control socket opens, and the reply table
  // logs in once the server greets.
  void StartLogin();
  // The log-in under way (if any) moves to `next`.
  void MoveLogin(LoginRun::Step next);
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
  // Ends the operation when its wait stopped on an error but nothing ended
  // it (a socket error arrives without an event), so the next operation is
  // not refused as "unfinished".
  void EndFailedOperation(long operation);
  void AbandonExchange();
  bool GetDirFromResponse();
  void FailReply(int code) { Raise(kErrReplyBase + code); }
  void Quit();

  // ---- the data connection
  static long GetFreePort();
  static bool ParsePasvReply(const std::string& reply, std::string* host, long* port);
  void SendDataConnectionSetup();
  void EstablishPasvDataConnection(const std::string& reply);
  // The port of a 229 reply; false when it holds none.
  static bool ParseEpsvReply(const std::string& reply, long* port);
  void EstablishEpsvDataConnection(const std::string& reply);
  void SendPORTCommand();
  void CloseDataConnection();

  // ---- host events: delivered at once outside a callback; inside one,
  // queued and delivered after it, by the wait under way or a posted call.
  void HostEvent(std::function<void()> event);
  void DeliverHostEvents();
  void RaiseServerMessage(const std::string& message, long messageType);

  // ---- errors
  void ReportError(const std::string& procName, long number, const std::string& description,
                   bool showError = false);
  void RaiseError(const std::string& source, long number, const std::string& description = std::string());
  void LogLine(const std::string& text);
  // OnError, unless the host switched it off, the error is a cancel, the
  // current file was cancelled, or the engine is only probing.
  void RaiseOnError(long number);

  // ---- reply actions shared by every layer's reply table
  void ActIgnore(int code);
  void ActEnd(int code);
  void ActFail(int code);
  void ActPasv(int code);
  void ActEpsv(int code);
  void ActGreeting(int code);
  void ActStartTls(int code);
  void ActTlsRefused(int code);
  void ActSendProt(int code);
  // Starts TLS on the data connection once it is open and its command has
  // gone (a server may close one whose handshake comes first).
  void StartDataTls();
  void ActEpsvRefused(int code);
  void ActSendDataSetup(int code);

  // ---- connection properties
  std::string m_serverName, m_passWord, m_userName;
  long m_remotePort = 21;
  std::string m_remotePath, m_localPath;
  bool m_passiveMode = true;
  bool m_usePasvAddress = false;
  bool m_extendedPassive = false;
  bool m_epsvRefused = false;  // this session's server refused EPSV
  long m_tlsMode = 0;
  TlsTrust m_tlsTrust;
  TlsContext m_tlsContext;
  std::string m_tlsServerName;             // the name the certificate must show
  ssl_session_st* m_tlsSession = nullptr;  // the control's, offered on data connections
  bool m_dataTlsDue = false;               // a transfer command went: TLS on its data connection
  long m_timeOut = 30;
  long m_keepConnSecond = 60;
  pellan::CodePage m_codePage = pellan::CodePage::kUtf8;
  long m_chunkSize = 1'024'000;
  bool m_raiseErrorEvent = true;

  // ---- session record
  long m_ftpState = kFtpReady;
  long m_lngOperation = kOpNone;
  std::string m_strLastCommand;
  std::string m_strReplyBuffer;
  std::string m_strLastReply;
  MonoTime m_dtLastActivity{};
  std::string m_currentDirectory;
  int m_quietProbe = 0;        // probing: no OnError

  ErrorMessages m_messages;
  CEncrypt m_encrypt;
  CSocket m_objControlSocket;
  CSocket m_objDataSocket;

 private:
  // The session's reply table and what its rows do.
  static const ReplyRow<FtpSession> kReplies[];
  void ActCloseAndFail(int code);
  void ActSendUser(int code);
  void ActSendPass(int code);
  void ActLoggedIn(int code);
  void ActLoginPwd(int code);
  void ActQuitDone(int code);
  void ActAbortDone(int code);

  void ControlSocketOnConnect();
  void ControlSocketOnDataArrival();
  void ControlSocketOnClose();
  void ControlSocketOnError();
  void ReplyErrorPath(long number, std::string description);
  void DataSocketOnError();
  void DataSocketOnConnectionRequest(long requestID);
  void Timer1Tick();
  void Stop(bool currentFileOnly);

  bool m_blnLoggedIn = false;
  LoginRun* m_login = nullptr;  // the Connect under way's, owned by it
  int m_portProbing = 0;       // a taken port is no error of the operation

  uint64_t m_aborts = 0;  // Abort calls so far: a pause ends at the next
  int m_callbackDepth = 0;
  uint64_t m_operationsStarted = 0;  // exchanges begun, but for ABOR and QUIT
  bool m_deliveryPosted = false;
  std::deque<std::function<void()>> m_hostEvents;
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);  // for posted calls

  LoopTimer m_timer1;
};

}  // namespace pellan
