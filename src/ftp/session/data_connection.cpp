// The data connection. Passive mode connects to the port a 227
// reply announces; active mode listens on a local port named in PORT and
// takes the server's connection.
#include <arpa/inet.h>
#include <openssl/ssl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <random>

#include "ftp/session/ftp_session.h"
#include "ftp/session/reply_parser.h"
#include "net/socket_support.h"
#include "platform/clock.h"
#include "platform/socket_errors.h"
#include "support/error_record.h"
#include "support/scoped_value.h"
#include "support/text.h"

namespace pellan {

namespace {

// The last port handed out for active mode, shared by every control.
long g_localPortCounter = 0;

constexpr long kFirstActivePort = 20000;
constexpr int kPortAttempts = 50;

}  // namespace

long FtpSession::GetFreePort() {
  if (g_localPortCounter == 0) {
    std::mt19937 rng(
        static_cast<unsigned>(CurrentClock().WallNow().tv_nsec ^ CurrentClock().WallNow().tv_sec));
    g_localPortCounter = kFirstActivePort + static_cast<long>(rng() % 20002);
  } else {
    ++g_localPortCounter;
  }
  // Past the last port the count starts again at the bottom of the range.
  if (g_localPortCounter > 65535) g_localPortCounter = kFirstActivePort;
  return g_localPortCounter;
}

bool FtpSession::ParsePasvReply(const std::string& reply, std::string* host, long* port) {
  // "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)"; some servers leave out
  // the parentheses, so without them the six numbers start at the first
  // digit after the code.
  size_t pos = reply.find('(');
  if (pos != std::string::npos) {
    ++pos;
  } else {
    pos = reply.find_first_of("0123456789", std::min<size_t>(3, reply.size()));
    if (pos == std::string::npos) return false;
  }
  long fields[6];
  for (int i = 0; i < 6; ++i) {
    while (pos < reply.size() && reply[pos] == ' ') ++pos;
    size_t end = pos;
    while (end < reply.size() && end - pos < 4 && reply[end] >= '0' && reply[end] <= '9') ++end;
    if (end == pos || end - pos > 3) return false;
    fields[i] = std::stol(reply.substr(pos, end - pos));
    if (fields[i] > 255) return false;
    while (end < reply.size() && reply[end] == ' ') ++end;
    if (i < 5) {
      if (end >= reply.size() || reply[end] != ',') return false;
      ++end;
    }
    pos = end;
  }
  *host = std::to_string(fields[0]) + "." + std::to_string(fields[1]) + "." + std::to_string(fields[2]) +
          "." + std::to_string(fields[3]);
  *port = fields[4] * 256 + fields[5];
  return *port > 0;
}

void FtpSession::EstablishPasvDataConnection(const std::string& reply) {
  SetFtpState(kFtpOpeningData, true);
  std::string host;
  long port = 0;
  if (!ParsePasvReply(reply, &host, &port))
    Raise(kErrBadPasvReply, "Unexpected passive mode reply: " + TrimBlanks(reply));
  // The announced address is only trusted when the host asks for it: a
  // hostile server could otherwise send the client to any host and port.
  if (!m_usePasvAddress) host = m_objControlSocket.RemoteHost();
  m_objDataSocket.CloseSocket();
  m_objDataSocket.SetLocalPort(0);
  m_objDataSocket.SetRemoteHost(host);
  m_objDataSocket.SetRemotePort(port);
  m_objDataSocket.SetChunkSize(m_chunkSize);
  m_objDataSocket.Connect();
}

bool FtpSession::ParseEpsvReply(const std::string& reply, long* port) {
  // "229 Entering Extended Passive Mode (|||6446|)": the delimiter is the
  // character after "(", and only the port is given.
  const size_t open = reply.find('(');
  if (open == std::string::npos || open + 5 > reply.size()) return false;
  const char d = reply[open + 1];
  if (d < 33 || d > 126 || reply[open + 2] != d || reply[open + 3] != d) return false;
  size_t end = open + 4;
  long value = 0;
  while (end < reply.size() && end - open - 4 < 5 && reply[end] >= '0' && reply[end] <= '9') {
    value = value * 10 + (reply[end++] - '0');
  }
  if (end == open + 4 || end + 1 >= reply.size() || reply[end] != d || reply[end + 1] != ')') return false;
  *port = value;
  return value > 0 && value <= 65535;
}

void FtpSession::EstablishEpsvDataConnection(const std::string& reply) {
  SetFtpState(kFtpOpeningData, true);
  long port = 0;
  if (!ParseEpsvReply(reply, &port)) Raise(kErrBadPasvReply, "Unexpected passive mode reply: " + TrimBlanks(reply));
  m_objDataSocket.CloseSocket();
  m_objDataSocket.SetLocalPort(0);
  m_objDataSocket.SetRemoteHost(m_objControlSocket.RemoteHost());
  m_objDataSocket.SetRemotePort(port);
  m_objDataSocket.SetChunkSize(m_chunkSize);
  m_objDataSocket.Connect();
}

void FtpSession::SendPORTCommand() {
  SetFtpState(kFtpOpeningData, true);
  long port = 0;
  bool listening = false;
  long lastError = 0;
  {
    const ScopedCount probing(m_portProbing);  // a port that is taken is no error of the operation
    for (int attempt = 0; attempt < kPortAttempts && !listening; ++attempt) {
      port = GetFreePort();
      if (m_objDataSocket.State() != CSocket::kStateClosed) m_objDataSocket.CloseSocket();
      m_objDataSocket.SetLocalPort(port);
      m_objDataSocket.SetChunkSize(m_chunkSize);
      listening = m_objDataSocket.Bind(port, m_objControlSocket.LocalIP()) && m_objDataSocket.Listen();
      if (!listening) {
        lastError = SharedErrorRecord().Number();
        SharedErrorRecord().Clear();
        m_objDataSocket.CloseSocket();
      }
    }
  }
  if (!listening) Raise(lastError != 0 ? lastError : static_cast<long>(kWsaEaddrinuse));
  std::string argument = m_objControlSocket.LocalIP();
  if (IsIpv6Address(argument)) {
    SendFtpCommand("EPRT", "|2|" + argument + "|" + std::to_string(port) + "|");
    return;
  }
  for (char& c : argument) {
    if (c == '.') c = ',';
  }
  argument += "," + std::to_string(port / 256) + "," + std::to_string(port % 256);
  SendFtpCommand("PORT", argument);
}

void FtpSession::CloseDataConnection() {
  if (m_objDataSocket.State() == CSocket::kStateClosed || m_objDataSocket.SocketHandle() == -1) return;
  m_objDataSocket.SendTlsCloseNotify();
  shutdown(static_cast<int>(m_objDataSocket.SocketHandle()), SHUT_RDWR);
  m_objDataSocket.CloseSocket();
  // A data connection given up is released now rather than kept until the
  // server closes it: the reset a server answers a cut transfer with would
  // otherwise be recorded as the error of whatever runs next. (A second
  // close releases a socket that is closing.)
  m_objDataSocket.CloseSocket();
}

namespace {

// The address at the other end of `fd`; "" when it is not known.
std::string PeerAddress(long fd) {
  sockaddr_storage peer{};
  socklen_t len = sizeof peer;
  if (fd < 0 || getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &len) != 0) return "";
  return AddressText(peer);
}

}  // namespace

void FtpSession::DataSocketOnConnectionRequest(long requestID) {
  // Only the server may connect: anyone else who reaches the port first
  // could feed a listing or a download, or take an upload's bytes. Others
  // are turned away (the socket layer closes what nobody took) and the
  // port keeps listening.
  const std::string server = PeerAddress(m_objControlSocket.SocketHandle());
  const std::string peer = PeerAddress(requestID);
  if (server.empty() || peer != server) {
    LogLine("DataSocket_OnConnectionRequest: refused a data connection from " + peer + " (the server is " + server +
            ")");
    return;
  }
  if (m_objDataSocket.State() != CSocket::kStateClosed) m_objDataSocket.CloseSocket();
  m_objDataSocket.Accept(requestID);
  StartDataTls();
  DataAccepted();
}

void FtpSession::SendDataConnectionSetup() {
  DataSetupStarting();
  if (m_passiveMode) {
    // PASV names an IPv4 address; over IPv6 only EPSV says anything useful
    // (though the port of a PASV reply still serves, at the control's peer).
    const bool epsv = m_extendedPassive || IsIpv6Address(m_objControlSocket.RemoteHost());
    SendFtpCommand(epsv && !m_epsvRefused ? "EPSV" : "PASV", "");
  } else {
    SendPORTCommand();
  }
}

void FtpSession::StartDataTls() {
  if (!m_dataTlsDue || m_objDataSocket.State() != CSocket::kStateConnected || m_objDataSocket.TlsActive()) return;
  m_dataTlsDue = false;
  // A ticket not offered yet (the server may take each only once); else the
  // control connection's session.
  SSL_SESSION* fresh = m_tlsContext.TakeFreshSession();
  m_objDataSocket.StartTls(m_tlsContext, m_tlsServerName, fresh != nullptr ? fresh : m_tlsSession);
  if (fresh != nullptr) SSL_SESSION_free(fresh);  // the connection holds its own reference
}

void FtpSession::DataSocketOnError() {
  if (m_portProbing > 0) return;
  try {
    LogLine("m_objDataSocket_OnError" + std::to_string(m_lngOperation));
    m_objDataSocket.CloseSocket();
    DataFailed();
    EndOperation();
  } catch (const Raised& r) {
    ReportError("DataSocket_OnError", r.number, r.description);
  }
}

}  // namespace pellan
