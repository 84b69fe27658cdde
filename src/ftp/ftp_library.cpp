// FtpLibrary: creation and destruction, and the properties' store and read
// rules.
#include "ftp/ftp_library.h"

#include <algorithm>

#include "ftp/session/reply_parser.h"
#include "net/socket_support.h"
#include "support/error_record.h"
#include "support/file.h"
#include "support/text.h"

namespace pellan {

namespace {

constexpr int kVersionMajor = 0;
constexpr int kVersionMinor = 1;
constexpr int kVersionRevision = 0;

std::string g_applicationTitle = "TolvarFtp";

// "*.jpg; *.gif" -> ".jpg..gif": the engines look for "." + ext + "." in
// "." + list + ".". The blanks around an item go too: ".jpg. .gif" would
// read back as a list nobody wrote.
std::string NormaliseTypeList(const std::string& v) {
  std::string out, item;
  bool first = true;
  for (char c : TrimBlanks(v) + ";") {
    if (c == '*') continue;
    if (c != ';' && c != ',') {
      item += c;
      continue;
    }
    out += (first ? "" : ".") + TrimBlanks(item);
    first = false;
    item.clear();
  }
  return out;
}

}  // namespace

// A socket's or timer's callback under way: the watch of that socket is
// paused until it returns, so a handler run from inside it could not read
// the replies of an operation it started.
struct FtpLibrary::CallbackScope {
  explicit CallbackScope(FtpLibrary& control) : m_control(control) { ++m_control.m_callbackDepth; }
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
  FtpLibrary& m_control;
};

FtpLibrary::FtpLibrary() {
  SetCurrentErrorMessages(&m_messages);
  if (SharedErrorRecord().LogFilePath().empty()) SharedErrorRecord().SetLogFilePath(EngineLogPath());
  // The socket layer records its errors and log lines where the engine does.
  SetSocketReporting(SocketReporting{
      [](const std::string& source, int number, const std::string& description) {
        CurrentErrorMessages().RaiseError(source, number, description, false);
      },
      [](const std::string& line) { SharedErrorRecord().WriteFile(line); }});

  m_objControlSocket.OnConnect = [this] { CallbackScope in(*this); ControlSocketOnConnect(); };
  m_objControlSocket.OnDataArrival = [this](double) { CallbackScope in(*this); ControlSocketOnDataArrival(); };
  m_objControlSocket.OnClose = [this] { CallbackScope in(*this); ControlSocketOnClose(); };
  m_objControlSocket.OnError = [this] { CallbackScope in(*this); ControlSocketOnError(); };
  m_objDataSocket.OnConnect = [this] { CallbackScope in(*this); DataSocketOnConnect(); };
  m_objDataSocket.OnConnectionRequest = [this](long id) { CallbackScope in(*this); DataSocketOnConnectionRequest(id); };
  m_objDataSocket.OnDataArrival = [this](double) { CallbackScope in(*this); DataSocketOnDataArrival(); };
  m_objDataSocket.OnClose = [this] { CallbackScope in(*this); DataSocketOnClose(); };
  m_objDataSocket.OnError = [this] { CallbackScope in(*this); DataSocketOnError(); };
  m_objDataSocket.OnSendComplete = [this] { CallbackScope in(*this); DataSocketOnSendComplete(); };
  m_timer1 = LoopTimer(Milliseconds(2000), [this] { CallbackScope in(*this); Timer1Tick(); }, false);
  m_timeouter = LoopTimer(Milliseconds(5000), [this] { CallbackScope in(*this); TimeouterTick(); }, false);
  m_dtLastActivity = CurrentClock().Now();
}

FtpLibrary::~FtpLibrary() {
  m_timer1.SetEnabled(false);
  m_timeouter.SetEnabled(false);
  // Events of a control that is going away reach nobody.
  OnError = nullptr;
  OnTransfer = nullptr;
  ServerMessage = nullptr;
  OnStateChange = nullptr;
  m_hostEvents.clear();
  if (Connected()) {
    if (m_lngOperation == kOpDownload || m_lngOperation == kOpUpload) Abort();
    Quit();
  }
  if (m_objControlSocket.SocketHandle() != -1) m_objControlSocket.CloseSocket();
  m_ftpState = kFtpClosed;
  CloseLocalFile();
  if (&CurrentErrorMessages() == &m_messages) SetCurrentErrorMessages(nullptr);
}

// ---------------------------------------------------------------- host events

void FtpLibrary::HostEvent(std::function<void()> event) {
  m_hostEvents.push_back(std::move(event));
  if (m_callbackDepth == 0) DeliverHostEvents();
}

void FtpLibrary::DeliverHostEvents() {
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

void FtpLibrary::RaiseServerMessage(const std::string& message, long messageType) {
  HostEvent([this, message, messageType] {
    if (ServerMessage) ServerMessage(message, messageType);
  });
}

void FtpLibrary::RaiseTransfer() {
  HostEvent([this] {
    if (OnTransfer) OnTransfer();
  });
}

void FtpLibrary::SetServerName(const std::string& enciphered) {
  m_serverName = m_encrypt.DecryptSiteInfo(enciphered, "base64");
}

void FtpLibrary::SetRemotePort(long port) {
  // Any TCP port; the old 16-bit limit is gone.
  m_remotePort = (port < 1 || port > 65535) ? 21 : port;
}

void FtpLibrary::SetRemotePath(const std::string& path) { m_remotePath = TrimBlanks(path); }

std::string FtpLibrary::LocalPath() {
  m_localPath = CFile().FormatPath(m_localPath);
  return m_localPath;
}

void FtpLibrary::SetLocalPath(const std::string& path) { m_localPath = TrimBlanks(path); }

void FtpLibrary::SetTimeOut(long seconds) { m_timeOut = (seconds >= 30 && seconds <= 6000) ? seconds : 30; }

void FtpLibrary::SetKeepConnSecond(long seconds) {
  if (seconds < 0) seconds = 0;
  if (seconds >= 1 && seconds <= 29) seconds = 30;
  m_keepConnSecond = seconds;
}

bool FtpLibrary::SetCodePage(const std::string& name) {
  const auto cp = ParseCodePage(name);
  if (!cp) return false;
  m_codePage = *cp;
  m_objControlSocket.SetCodePage(m_codePage);
  m_objDataSocket.SetCodePage(m_codePage);
  return true;
}

void FtpLibrary::SetOverWrite(bool v) {
  m_overWrite = v;
  m_replacePrompt = false;
}

void FtpLibrary::SetChunkSize(long kilobytes) {
  const int64_t bytes = static_cast<int64_t>(kilobytes) * 1024;
  m_chunkSize = static_cast<long>(std::clamp<int64_t>(bytes, 10240, 2048000));
}

void FtpLibrary::SetFileTypeAllow(const std::string& v) { m_fileTypeAllow = NormaliseTypeList(v); }

void FtpLibrary::SetFileTypeForbid(const std::string& v) { m_fileTypeForbid = NormaliseTypeList(v); }

std::string FtpLibrary::Title() const { return g_applicationTitle; }

void FtpLibrary::SetTitle(const std::string& title) { g_applicationTitle = title; }

std::string FtpLibrary::Version() const {
  return std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + ".0." + std::to_string(kVersionRevision);
}

}  // namespace pellan
