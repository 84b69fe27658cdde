// CSocket: sending, receiving and the dispatch of readiness as socket events.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <memory>
#include <utility>

#include "net/csocket.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <signal.h>
#include "net/socket_support.h"
#include "platform/socket_errors.h"

namespace pellan {

// ------------------------------------------------------------------- sending

bool CSocket::SendData(const std::string& text, double length, bool listCommand) {
  const std::string bytes = EncodeText(text, m_codePage);
  size_t size = bytes.size();
  if (length >= 0 && length < static_cast<double>(size)) size = static_cast<size_t>(length);
  return SendBytes(bytes.data(), size, listCommand);
}

bool CSocket::SendBytes(const char* data, size_t size, bool listCommand) {
  m_listCommand = listCommand;
  if (m_handle == -1) {
    ReportOperationError("SendData", kErrNoSocketHandle, std::string());
    return false;
  }
  if (m_pendingOffset > 0 && m_pendingOffset == m_pending.size()) {
    m_pending.clear();
    m_pendingOffset = 0;
  }
  // With nothing queued the bytes go out from the caller's buffer, and only
  // what the system does not take now is copied into the queue. Bytes still
  // queued from an earlier call stay in front: replacing them would lose
  // part of a file.
  if (m_pending.empty() && !m_waitingWritable) return SendFrom(data, size, false);
  m_pending.append(data, size);
  if (m_waitingWritable) return true;  // goes out at the next write readiness
  return SendBufferedData();
}

bool CSocket::SendBufferedData() {
  if (m_handle == -1) return false;
  return SendFrom(m_pending.data() + m_pendingOffset, m_pending.size() - m_pendingOffset, true);
}

bool CSocket::SendFrom(const char* data, size_t size, bool queued) {
  // Whatever is not sent now waits in the queue.
  const auto keep = [&](size_t from) {
    if (queued) {
      m_pendingOffset += from;
    } else if (from < size) {
      m_pending.assign(data + from, size - from);
    }
  };
  const size_t left = Allowance(size);
  if (left == 0 || m_tlsHandshaking) {  // the handshake's end sends them
    keep(0);
    return true;
  }
  ssize_t n = 0;
  if (m_ssl != nullptr) {
    m_tlsWantsWrite = false;
    // With partial writes on, SSL_write returns after each record: records
    // go on until the socket takes no more, not one wait for it per record.
    // A write TLS could not finish is repeated with at least as many bytes.
    int sent = 0;
    while (static_cast<size_t>(n) < left) {
      const size_t rest = size - static_cast<size_t>(n);
      const size_t length = std::min({std::max(left - static_cast<size_t>(n), m_tlsRetryLength), rest,
                                      static_cast<size_t>(1) << 30});
      sent = SSL_write(m_ssl, data + n, static_cast<int>(length));
      m_tlsRetryLength = sent <= 0 ? length : 0;
      if (sent <= 0) break;
      n += sent;
    }
    if (sent <= 0) {
      int error = 0;
      if (TlsFailure(sent, &error) != -1) {
        keep(static_cast<size_t>(n));
        SocketLog("SendBufferedData--TLS " + m_tlsProblem);
        return false;
      }
      if (n == 0) {
        keep(0);
        m_waitingWritable = m_tlsWantsWrite;
        UpdateWatchInterest();
        return true;
      }
    }
  } else {
    n = send(static_cast<int>(m_handle), data, left, MSG_NOSIGNAL);
  }
  if (n < 0) {
    keep(0);
    const int err = errno;
    if (err == EAGAIN || err == EWOULDBLOCK) {
      m_waitingWritable = true;
      UpdateWatchInterest();
      return true;
    }
    SocketLog("RecvDataToBuffer--Err.LastDllError=" + std::to_string(SocketErrorFromErrno(err)));
    return false;
  }
  m_allowance -= static_cast<double>(n);
  keep(static_cast<size_t>(n));
  const size_t remaining = size - static_cast<size_t>(n);
  if (remaining == 0) {
    m_pending.clear();
    m_pendingOffset = 0;
    if (m_shutdownWhenSent) {
      m_shutdownWhenSent = false;
      if (m_ssl != nullptr) SSL_shutdown(m_ssl);
      shutdown(static_cast<int>(m_handle), SHUT_WR);
    }
    // The write event that finds nothing left raises OnSendComplete.
    PostWriteEvent();
  } else {
    // A partial send is normal for a non-blocking socket: the tail goes out
    // when the socket is writable again.
    m_waitingWritable = true;
    UpdateWatchInterest();
  }
  if (OnSendProgress) OnSendProgress(static_cast<double>(n), static_cast<double>(remaining));
  return true;
}

void CSocket::PostWriteEvent() {
  if (m_writePosted) return;
  m_writePosted = true;
  std::weak_ptr<uint64_t> alive = m_alive;
  const uint64_t generation = *m_alive;
  CurrentLoop().Post([this, alive, generation] {
    const auto token = alive.lock();
    if (!token || *token != generation) return;  // destroyed or re-opened since
    m_writePosted = false;
    PostSocketEvent(kEventWrite, 0);
  });
}

// ---------------------------------------------------------------- rate limit

void CSocket::SetRateLimit(double bytesPerSecond) {
  m_rate = bytesPerSecond > 0 ? bytesPerSecond : 0;
  m_allowanceAt = CurrentClock().Now();
  m_allowance = 0;
}

size_t CSocket::Allowance(size_t want) {
  if (m_rate <= 0 || want == 0) return want;
  if (m_rateWait) return 0;
  // A twentieth of a second's worth may be saved up, so a pause does not
  // turn into a burst; the rest of the time the bytes move as they come.
  const double most = std::max(m_rate / 20, 4096.0);
  const MonoTime now = CurrentClock().Now();
  m_allowance = std::min(most, m_allowance + m_rate * std::chrono::duration<double>(now - m_allowanceAt).count());
  m_allowanceAt = now;
  // Bytes move in pieces of half of what may be saved up (or less, when
  // less is asked for), not as dribbles of what a few microseconds allow.
  const double piece = std::min(static_cast<double>(want), most / 2);
  if (m_allowance >= piece) return std::min(want, static_cast<size_t>(m_allowance));
  const auto wait = std::chrono::duration<double>((piece - m_allowance) / m_rate);
  m_rateWait = true;
  m_rateTimer = LoopTimer(std::max(Milliseconds(1), std::chrono::ceil<Milliseconds>(wait)),
                          [this] { AllowanceCameBack(); }, true);
  UpdateWatchInterest();
  return 0;
}

void CSocket::AllowanceCameBack() {
  m_rateTimer.SetEnabled(false);
  m_rateWait = false;
  UpdateWatchInterest();
  if (PendingSendLength() > 0) SendBufferedData();
}

// ----------------------------------------------------------------------- TLS

bool CSocket::StartTls(const TlsContext& context, const std::string& serverName, ssl_session_st* resume) {
  if (m_handle == -1 || m_state != kStateConnected || context.Get() == nullptr) return false;
  // OpenSSL writes with write(2): a server that closes while it writes must
  // not end the process.
  struct sigaction old {};
  if (sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) signal(SIGPIPE, SIG_IGN);
  std::string error;
  m_ssl = NewTlsConnection(context, static_cast<int>(m_handle), serverName, resume, &error);
  if (m_ssl == nullptr) {
    ReportOperationError("StartTls", kErrTlsHandshake, error);
    return false;
  }
  m_tlsContext = &context;
  m_tlsHandshaking = true;
  m_tlsProblem.clear();
  TlsHandshakeStep();
  return true;
}

void CSocket::TlsHandshakeStep() {
  m_tlsWantsWrite = false;
  const int result = SSL_do_handshake(m_ssl);
  int error = 0;
  if (result != 1 && TlsFailure(result, &error) == -1) {
    UpdateWatchInterest();
    return;
  }
  m_tlsHandshaking = false;
  if (result == 1) {
    m_tlsProblem = TlsCertificateProblem(m_ssl, *m_tlsContext);
    if (m_tlsProblem.empty()) {
      // From now on a read takes every record the socket holds (the
      // handshake itself reads record by record, so nothing the server sent
      // after it waits unseen inside TLS).
      SSL_set_read_ahead(m_ssl, 1);
      UpdateWatchInterest();
      if (OnTlsReady) OnTlsReady();
      if (m_handle != -1 && PendingSendLength() > 0) SendBufferedData();
      return;
    }
    error = kErrTlsCertificate;
  } else if (SSL_get_verify_result(m_ssl) != X509_V_OK) {
    m_tlsProblem = TlsCertificateProblem(m_ssl, *m_tlsContext);
    error = kErrTlsCertificate;
  }
  PostSocketEvent(kEventClose, error != 0 ? error : static_cast<int>(kErrTlsHandshake));
}

long CSocket::TlsFailure(int result, int* error) {
  switch (SSL_get_error(m_ssl, result)) {
    case SSL_ERROR_WANT_READ:
      return -1;
    case SSL_ERROR_WANT_WRITE:
      m_tlsWantsWrite = true;
      UpdateWatchInterest();
      return -1;
    case SSL_ERROR_ZERO_RETURN:
      // The server's close_notify, answered with ours: a server keeps the
      // session (and the ticket it gave) of a connection that ended cleanly.
      SSL_shutdown(m_ssl);
      return 0;
    case SSL_ERROR_SYSCALL:
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return -1;
      // The end of the stream without close_notify ends it all the same (a
      // short file is caught by the transfer's own size checks).
      if (errno == 0) {
        ERR_clear_error();
        return 0;
      }
      *error = SocketErrorFromErrno(errno);
      return -2;
    default:
      m_tlsProblem = TlsErrorText();
      *error = kErrTlsHandshake;
      return -2;
  }
}

void CSocket::SendTlsCloseNotify() {
  if (m_ssl != nullptr && !m_tlsHandshaking) SSL_shutdown(m_ssl);
}

ssl_session_st* CSocket::TlsSession() const { return m_ssl != nullptr ? SSL_get1_session(m_ssl) : nullptr; }

// ----------------------------------------------------------------- receiving

long CSocket::ReceiveChunk(int* error) {
  const size_t want = Allowance(m_receiveSize > 0 ? static_cast<size_t>(m_receiveSize) : 65536);
  if (want == 0) return -1;
  // What a closing connection still delivers is dropped, so only an open
  // one reads into the sink.
  m_lastReadToSink = m_sink != nullptr && m_state == kStateConnected;
  char* into = nullptr;
  if (m_lastReadToSink) {
    into = m_sink->Room(want);
  } else {
    if (m_recvBufferSize != want) {
      m_recvBuffer = std::make_unique_for_overwrite<char[]>(want);  // recv fills it
      m_recvBufferSize = want;
    }
    into = m_recvBuffer.get();
  }
  if (m_ssl != nullptr) {
    m_tlsWantsWrite = false;
    m_tlsHoldsMore = false;
    // Records of up to 16 KiB, as many as one read of the socket brought,
    // up to a chunk small enough to stay in the cache on its way to the file.
    const size_t room = std::min<size_t>(want, 64 << 10);
    size_t got = 0;
    int stop = SSL_ERROR_WANT_READ;
    while (got < room) {
      const int n = SSL_read(m_ssl, into + got, static_cast<int>(room - got));
      if (n <= 0) {
        if (got == 0) {
          if (m_lastReadToSink) m_sink->Commit(0);
          return TlsFailure(n, error);
        }
        stop = SSL_get_error(m_ssl, n);
        break;
      }
      got += static_cast<size_t>(n);
      if (!SSL_has_pending(m_ssl)) break;  // no need to ask the socket for the wait
    }
    // Read again at once when whole records may still wait inside TLS (the
    // chunk filled up) or when what ended this read was not the wait for
    // more bytes: the peer's close_notify, read together with its last
    // bytes, leaves nothing in the socket to wake the next read (vsftpd
    // keeps the connection open for ours).
    m_tlsHoldsMore = (got == room && SSL_has_pending(m_ssl)) || stop != SSL_ERROR_WANT_READ;
    if (m_lastReadToSink) m_sink->Commit(got);
    m_allowance -= static_cast<double>(got);
    return static_cast<long>(got);
  }
  const ssize_t n = recv(static_cast<int>(m_handle), into, want, 0);
  if (n > 0) {
    if (m_lastReadToSink) m_sink->Commit(static_cast<size_t>(n));
    m_allowance -= static_cast<double>(n);
    return static_cast<long>(n);
  }
  if (n == 0) return 0;
  const int err = errno;
  if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR) return -1;
  *error = SocketErrorFromErrno(err);
  return -2;
}

long CSocket::RecvDataToBuffer() {
  // Used while draining at the peer's close: one more receive into the slot.
  if (m_state == kStateClosed || m_state == kStateClosing || m_handle == -1) return 0;
  int error = 0;
  const long n = ReceiveChunk(&error);
  if (n > 0) {
    if (m_lastReadToSink) {
      m_slot.clear();
    } else {
      m_slot.assign(m_recvBuffer.get(), static_cast<size_t>(n));
    }
    return n;
  }
  if (n == -2 && error != kWsaEnotsock) {
    SocketLog("RecvDataToBuffer--Err.LastDllError=" + std::to_string(error));
  }
  return 0;
}

bool CSocket::RecvData(std::string& data, VarType type, long maxLen, bool peek) {
  if (m_slot.empty()) return false;
  size_t take = m_slot.size();
  const size_t fixed = FixedSizeOf(type);
  if (fixed > 0) {
    take = std::min(fixed, m_slot.size());
  } else if (maxLen >= 0 && static_cast<size_t>(maxLen) < m_slot.size()) {
    take = static_cast<size_t>(maxLen);
  }
  if (!peek && take == m_slot.size()) {
    data.swap(m_slot);  // the whole chunk: handed over, not copied
    m_slot.clear();
  } else {
    data.assign(m_slot, 0, take);
    if (!peek) m_slot.erase(0, take);
  }
  if (type == VarType::kText) data = DecodeText(data, m_codePage);
  m_bytesReceived = static_cast<double>(m_slot.size());
  return true;
}

bool CSocket::GetData(std::string& data, VarType type, long maxLen) { return RecvData(data, type, maxLen, false); }

bool CSocket::PeekData(std::string& data, VarType type, long maxLen) { return RecvData(data, type, maxLen, true); }

// ------------------------------------------------------------------ dispatch

void CSocket::OnReady(unsigned ioEvents) {
  try {
    switch (m_state) {
      case kStateListening:
        if (ioEvents & (kIoRead | kIoError | kIoHangup)) PostSocketEvent(kEventAccept, 0);
        return;
      case kStateConnecting: {
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(static_cast<int>(m_handle), SOL_SOCKET, SO_ERROR, &err, &len);
        if (err == 0 && !(ioEvents & kIoWrite)) return;  // not decided yet
        PostSocketEvent(kEventConnect, SocketErrorFromErrno(err));
        return;
      }
      case kStateConnected:
      case kStateClosing:
        break;
      default:
        return;
    }
    if (m_tlsHandshaking) {
      TlsHandshakeStep();
      return;
    }
    if ((ioEvents & kIoWrite) && m_waitingWritable) {
      m_waitingWritable = false;
      UpdateWatchInterest();
      PostSocketEvent(kEventWrite, 0);
      if (m_handle == -1) return;
    }
    if (!(ioEvents & (kIoRead | kIoError | kIoHangup))) return;
    int error = 0;
    const long n = ReceiveChunk(&error);
    if (n == -1) return;
    if (n == -2) {
      PostSocketEvent(kEventClose, error);  // a reset arrives as a close with an error
    } else if (n == 0) {
      PostSocketEvent(kEventClose, 0);
    } else if (m_state == kStateConnected) {
      PostSocketEvent(kEventRead, 0, n);
    }
    // Bytes TLS holds already never make the socket readable again.
    if (m_ssl != nullptr && m_handle != -1 && m_tlsHoldsMore) {
      std::weak_ptr<uint64_t> alive = m_alive;
      const uint64_t generation = *m_alive;
      CurrentLoop().Post([this, alive, generation] {
        const auto token = alive.lock();
        if (token && *token == generation) OnReady(kIoRead);
      });
    }
    // While closing, what the peer still sends is read and dropped until its
    // close arrives.
  } catch (const std::exception& e) {
    SocketLog(std::string("WindowProc ") + e.what());
  } catch (...) {
    SocketLog("WindowProc");
  }
}

void CSocket::PostSocketEvent(int event, int error, long received) {
  // The connect check: a server that accepts the connection and closes it
  // before saying anything is a failed connect, not a quiet close.
  if (m_expectsGreeting && m_awaitingFirstData && error == 0) {
    if (event != kEventRead) error = kErrConnectFailed;
    m_expectsGreeting = false;
  }
  if (event == kEventRead) m_awaitingFirstData = false;

  if (error > 0) {
    SocketLog("PostSocketEvent:lngError=" + std::to_string(error));
    m_state = kStateError;
    EventErrorPath(event, error);
    DestroySocket();
    return;
  }
  switch (event) {
    case kEventRead:
      if (received > 0) {
        if (m_lastReadToSink) {
          m_slot.clear();
        } else {
          m_slot.assign(m_recvBuffer.get(), static_cast<size_t>(received));
        }
        m_bytesReceived += static_cast<double>(received);
        if (OnDataArrival) OnDataArrival(static_cast<double>(received));
      }
      break;
    case kEventWrite:
      if (PendingSendLength() > 0) {
        SendBufferedData();
      } else if (OnSendComplete) {
        OnSendComplete();
      }
      break;
    case kEventAccept: {
      const int fd = accept4(static_cast<int>(m_handle), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        const int err = errno;
        if (err != EAGAIN && err != EWOULDBLOCK && err != EINTR && err != ECONNABORTED) {
          EventErrorPath(event, SocketErrorFromErrno(err));
        }
        break;
      }
      if (OnConnectionRequest) OnConnectionRequest(fd);
      // A connection nobody took over is closed rather than leaked.
      if (FindSocket(fd) == nullptr) close(fd);
      break;
    }
    case kEventConnect:
      ReadLocalAddress();
      m_state = kStateConnected;
      m_awaitingFirstData = true;
      UpdateWatchInterest();
      if (OnConnect) OnConnect();
      break;
    case kEventClose: {
      for (;;) {
        const long n = RecvDataToBuffer();
        if (n <= 0) break;
        m_bytesReceived += static_cast<double>(n);
        if (OnDataArrival) OnDataArrival(static_cast<double>(n));
      }
      if (m_state != kStateClosing) {
        m_state = kStateClosing;
        if (PendingSendLength() > 0) SendBufferedData();
      }
      DestroySocket();
      if (OnClose) OnClose();
      break;
    }
    default:
      break;
  }
}

void CSocket::EventErrorPath(int event, int number) {
  m_lngPostEventErrorID = event;
  const double pending = PendingSendLength();
  if (pending > 0) {
    SocketLog("PostSocketEvent:buffer=" + std::to_string(static_cast<long long>(pending)));
    m_pending.clear();
    m_pendingOffset = 0;
  }
  SocketLog("--PostSocketEvent--ErrorDeal---" + std::to_string(number));
  const bool tls = number == kErrTlsHandshake || number == kErrTlsCertificate;
  SocketRaiseError("--PostSocketEvent--ErrorDeal---", number, tls ? m_tlsProblem : std::string());
}

}  // namespace pellan
