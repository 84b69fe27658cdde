#include "net/csocket.h"

#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>

#include "net/socket_support.h"
#include "platform/socket_errors.h"
#include "support/text.h"

namespace pellan {

size_t CSocket::FixedSizeOf(VarType type) {
  switch (type) {
    case VarType::kByte: return 1;
    case VarType::kBoolean:
    case VarType::kInteger: return 2;
    case VarType::kLong:
    case VarType::kSingle: return 4;
    case VarType::kDouble:
    case VarType::kCurrency:
    case VarType::kDate: return 8;
    default: return 0;
  }
}

CSocket::CSocket() : m_codePage(ProcessCodePage()), m_alive(std::make_shared<uint64_t>(0)) {}

CSocket::~CSocket() {
  if (m_handle != -1) DestroySocket();
}

// ---------------------------------------------------------------- properties

void CSocket::SetProtocol(long protocol) {
  if (m_handle == -1) m_protocol = protocol;
}

void CSocket::SetRemoteHost(const std::string& host) {
  const std::string name = TrimBlanks(host);
  if (name.empty()) return;
  int error = 0;
  const std::string address = ResolveHost(name, &error);
  m_remoteHost = address;
  m_hostError = 0;
  if (address.empty()) {
    m_hostError = kWsaHostNotFound;
    SocketRaiseError("CSocket.RemoteHost", kWsaHostNotFound, std::string());
  }
}

void CSocket::SetRemotePort(long port) { m_remotePort = (port < 1 || port > 65535) ? 21 : port; }

void CSocket::SetChunkSize(long size) { m_chunkSize = std::clamp(size, kMinChunkSize, kMaxChunkSize); }

std::string CSocket::LocalHostName() {
  if (!m_localHostNameKnown && !m_localIP.empty()) {
    const std::string name = ReverseLookup(m_localIP);
    m_localHostName = name.empty() ? m_localIP : name;
    m_localHostNameKnown = true;
  }
  return m_localHostName;
}

void CSocket::SetNoDelay() {
  // Commands and replies are small and each waits for the other: they must
  // not sit in the send queue waiting for an acknowledgement.
  const int flag = 1;
  setsockopt(static_cast<int>(m_handle), IPPROTO_TCP, TCP_NODELAY, &flag, sizeof flag);
}

void CSocket::SetKeepAlive(bool on) {
  if (m_handle == -1) return;
  const int flag = on ? 1 : 0;
  setsockopt(static_cast<int>(m_handle), SOL_SOCKET, SO_KEEPALIVE, &flag, sizeof flag);
  if (on) {
    // Probe after a minute of silence, every 20 s, give up after 5 misses.
    const int idle = 60, interval = 20, count = 5;
    setsockopt(static_cast<int>(m_handle), IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(static_cast<int>(m_handle), IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(static_cast<int>(m_handle), IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
  }
}

// ------------------------------------------------------- creating, releasing

long CSocket::InitSocket() {
  if (m_protocol != 0) {
    // Datagram sockets are not used by the engine.
    ReportOperationError("InitSocket", kWsaEsocktnosupport, std::string());
    return -1;
  }
  const int fd = socket(m_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) {
    ReportOperationError("InitSocket", SocketErrorFromErrno(errno), std::string());
    return -1;
  }
  m_handle = fd;
  RegisterSocket(fd, this);
  StartWatch();
  GetWinsockBuffers();
  SetNoDelay();
  return fd;
}

bool CSocket::SocketExists(int family) {
  // A socket of the other address family is of no use: a new one replaces it.
  if (m_handle != -1 && family != 0 && family != m_family) DestroySocket();
  if (family != 0) m_family = family;
  if (m_handle != -1) return true;
  return InitSocket() != -1;
}

void CSocket::GetWinsockBuffers() {
  const int fd = static_cast<int>(m_handle);
  if (m_chunkSize < 1) {
    int rcv = 0, snd = 0;
    socklen_t len = sizeof rcv;
    getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcv, &len);
    len = sizeof snd;
    getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &snd, &len);
    m_receiveSize = rcv > 0 ? rcv : 65536;
    m_sendSize = snd > 0 ? snd : 65536;
  } else {
    const int size = static_cast<int>(m_chunkSize);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    m_receiveSize = m_sendSize = m_chunkSize;
  }
}

void CSocket::DestroySocket() {
  if (m_handle == -1) return;
  m_watch.Reset();
  UnregisterSocket(static_cast<int>(m_handle));
  close(static_cast<int>(m_handle));
  if (m_ssl != nullptr) SSL_free(m_ssl);
  m_ssl = nullptr;
  m_tlsHandshaking = m_tlsWantsWrite = false;
  m_tlsRetryLength = 0;
  m_handle = -1;
  m_bound = false;
  m_sink = nullptr;  // a sink serves one connection
  ++*m_alive;  // events posted for this handle are void now
  m_writePosted = false;
  m_waitingWritable = false;
  m_shutdownWhenSent = false;
  m_pending.clear();
  m_pendingOffset = 0;
  m_rateWait = false;
  m_rateTimer = LoopTimer();
  m_allowance = 0;
  m_allowanceAt = CurrentClock().Now();
}

void CSocket::StartWatch() {
  m_watch = LoopWatch(static_cast<int>(m_handle), 0, [this](unsigned ev) { OnReady(ev); });
  UpdateWatchInterest();
}

void CSocket::UpdateWatchInterest() {
  if (!m_watch.Valid()) return;
  unsigned interest = 0;
  switch (m_state) {
    case kStateListening: interest = kIoRead; break;
    case kStateConnecting: interest = kIoWrite; break;
    case kStateConnected:
    case kStateClosing:
      if (m_tlsHandshaking) {
        interest = m_tlsWantsWrite ? kIoWrite : kIoRead;
      } else {
        interest = m_rateWait ? 0u : kIoRead | (m_waitingWritable || m_tlsWantsWrite ? kIoWrite : 0u);
      }
      break;
    default: break;
  }
  m_watch.SetInterest(interest);
}

// ---------------------------------------------------------------- operations

bool CSocket::Bind(long localPort, const std::string& localIP) {
  if (!localIP.empty()) m_localIP = localIP;
  if (localPort > 0) m_localPort = localPort;
  SocketAddress address;
  if (!MakeSocketAddress(m_localIP.empty() ? "0.0.0.0" : m_localIP, m_localPort, &address)) {
    ReportOperationError("Bind", kWsaEaddrnotavail, std::string());
    return false;
  }
  if (!SocketExists(address.Family())) return false;
  const int fd = static_cast<int>(m_handle);
  const int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address.storage), address.length) != 0) {
    ReportOperationError("Bind", SocketErrorFromErrno(errno), std::string());
    return false;
  }
  m_bound = true;
  ReadLocalAddress();  // a port of 0 becomes the one the system chose
  return true;
}

bool CSocket::Listen() {
  if (!SocketExists()) return false;
  if (!m_bound && !Bind(m_localPort)) {
    m_state = kStateError;
    return false;
  }
  if (listen(static_cast<int>(m_handle), 5) != 0) {
    m_state = kStateError;
    ReportOperationError("Listen", SocketErrorFromErrno(errno), std::string());
    return false;
  }
  m_state = kStateListening;
  UpdateWatchInterest();
  return true;
}

bool CSocket::Connect() {
  // A connection its owner closed may still wait for the peer's close; it
  // is over all the same, and a half-closed socket cannot connect again.
  if (m_state == kStateClosing) DestroySocket();
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (m_remoteHost.empty()) {
      ReportOperationError("Connect", m_hostError ? m_hostError : static_cast<int>(kErrHostnameRequired), std::string());
      return false;
    }
    SocketAddress address;
    if (!MakeSocketAddress(m_remoteHost, RemotePort(), &address)) {
      ReportOperationError("Connect", kErrUnresolvableHost, std::string());
      return false;
    }
    // A socket bound to a local address keeps its family.
    if (!SocketExists(m_bound ? 0 : address.Family())) return false;
    if (connect(static_cast<int>(m_handle), reinterpret_cast<sockaddr*>(&address.storage), address.length) == 0 ||
        errno == EINPROGRESS) {
      // Done or under way: either way the result comes as a connect event.
      m_state = kStateConnecting;
      m_awaitingFirstData = false;
      UpdateWatchInterest();
      return true;
    }
    const int err = errno;
    if (err != EISCONN) {
      ReportOperationError("Connect", SocketErrorFromErrno(err), std::string());
      return false;
    }
    SocketLog("CloseSocket And Connect");
    DestroySocket();
  }
  return false;
}

bool CSocket::Accept(long requestID) {
  if (m_handle != -1 && m_handle != requestID) DestroySocket();
  const int fd = static_cast<int>(requestID);
  int type = 0;
  socklen_t len = sizeof type;
  if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0) {
    ReportOperationError("Accept", SocketErrorFromErrno(errno), std::string());
    return false;
  }
  if (type != SOCK_STREAM) m_protocol = 1;
  m_handle = fd;
  ReadLocalAddress();
  m_localHostName = m_localIP;
  m_localHostNameKnown = true;
  sockaddr_storage peer{};
  socklen_t plen = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &plen) == 0) {
    m_remotePort = AddressPort(peer);
    m_remoteHost = AddressText(peer);
  }
  m_family = peer.ss_family == AF_INET6 ? AF_INET6 : AF_INET;
  GetWinsockBuffers();
  SetNoDelay();
  RegisterSocket(fd, this);
  m_state = kStateConnected;
  m_awaitingFirstData = false;
  StartWatch();
  return true;
}

void CSocket::CloseSocket() {
  if (m_handle == -1) return;
  if (m_state != kStateConnected) {
    DestroySocket();
    return;
  }
  // Graceful: stop sending (once what is queued has gone), and release the
  // socket when the peer's close arrives.
  m_state = kStateClosing;
  if (PendingSendLength() > 0) {
    m_shutdownWhenSent = true;
  } else {
    // TLS ends with close_notify; what the server still sends (a session
    // ticket, its own close_notify) is read until it closes.
    if (m_ssl != nullptr && !m_tlsHandshaking) SSL_shutdown(m_ssl);
    shutdown(static_cast<int>(m_handle), SHUT_WR);
  }
  UpdateWatchInterest();
}

void CSocket::ReadLocalAddress() {
  sockaddr_storage local{};
  socklen_t len = sizeof local;
  if (getsockname(static_cast<int>(m_handle), reinterpret_cast<sockaddr*>(&local), &len) == 0) {
    m_localPort = AddressPort(local);
    m_localIP = AddressText(local);
    m_localHostNameKnown = false;
  }
}

void CSocket::ReportOperationError(const std::string& operation, int number, const std::string& description) {
  SocketRaiseError("CSocket." + operation, number, description);
  if (OnError) OnError();
  m_expectsGreeting = false;
}

}  // namespace pellan
