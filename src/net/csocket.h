// CSocket: one non-blocking TCP socket driven by the event loop, whose
// readiness becomes the object's events (data arrival, send progress and
// completion, connect, close, connection requests) on the loop's thread.
//
// Receiving keeps one chunk at a time: each read event replaces the receive
// slot with the next chunk, so the owner reads it in OnDataArrival. Sending
// keeps the bytes of the last SendData the system did not take at once until
// they are all out; each send call
// raises OnSendProgress, and the write event that finds nothing left raises
// OnSendComplete (exactly once per buffer). A close by the peer delivers every
// chunk still unread before OnClose. While a receive sink is set, the chunks
// of the connection go straight into it instead of the slot (see
// SetReceiveSink).
//
// Errors of the operations are recorded through the engine's error record
// with the source "CSocket." + the operation, then OnError. Errors that
// arrive with an event (a refused connect, a reset) put the socket in State 9,
// release it and are recorded without an event; the owner sees them as the
// engine's ErrorNumber.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/byte_sink.h"
#include "net/tls.h"
#include "platform/code_page.h"
#include "platform/event_loop.h"

namespace pellan {

// Socket event codes, as the owner and the logs see them.
enum SocketEvent : int {
  kEventRead = 1,
  kEventWrite = 2,
  kEventAccept = 8,
  kEventConnect = 16,
  kEventClose = 32,
};

// What GetData / PeekData return from the receive slot.
enum class VarType {
  kText,       // the slot as text, converted from the socket's code page
  kByteArray,  // the slot's bytes unchanged
  kBoolean,    // the slot's first 2 bytes
  kByte,       // 1
  kInteger,    // 2
  kLong,       // 4
  kSingle,     // 4
  kDouble,     // 8
  kCurrency,   // 8
  kDate,       // 8
};

class CSocket {
 public:
  enum StateValue : long {
    kStateClosed = 0,
    kStateListening = 2,
    kStateConnecting = 6,
    kStateConnected = 7,
    kStateClosing = 8,
    kStateError = 9,
  };

  static constexpr long kMinChunkSize = 40960;
  static constexpr long kMaxChunkSize = 2048000;

  CSocket();
  ~CSocket();
  CSocket(const CSocket&) = delete;
  CSocket& operator=(const CSocket&) = delete;

  // ---- events
  std::function<void()> OnError;
  std::function<void()> OnClose;
  std::function<void()> OnConnect;
  std::function<void(long requestID)> OnConnectionRequest;
  std::function<void(double bytesTotal)> OnDataArrival;
  std::function<void()> OnSendComplete;
  std::function<void(double bytesSent, double bytesRemaining)> OnSendProgress;

  // ---- operations
  // Queues `data` (text: converted to the socket's code page) and sends what
  // the system takes now; `length` is the byte count to send (negative: all).
  bool SendData(const std::string& text, double length = -1, bool listCommand = false);
  bool SendBytes(const char* data, size_t size, bool listCommand = false);
  bool SendBufferedData();
  // Reads the receive slot. Without a maximum (or with one not below the slot
  // length) the slot is emptied; a smaller maximum takes that many bytes from
  // its front and leaves the rest. False when the slot is empty.
  bool GetData(std::string& data, VarType type = VarType::kText, long maxLen = -1);
  bool PeekData(std::string& data, VarType type = VarType::kText, long maxLen = -1);
  // For the rest of the current connection, what it delivers is appended to
  // `sink` as it is read (no copy through the slot, which stays empty);
  // OnDataArrival still reports each chunk. The sink must outlive the
  // connection; nullptr goes back to the slot. Released with the handle.
  void SetReceiveSink(ByteSink* sink) { m_sink = sink; }
  bool Listen();
  bool Bind(long localPort = 0, const std::string& localIP = std::string());
  bool Connect();
  // The peer speaks first (a server's greeting): until its first bytes
  // after the connect, a close is a failed connect (16006) rather than a
  // quiet end. The first event after the connect and any error clear it.
  void SetExpectsGreeting(bool v) { m_expectsGreeting = v; }
  bool ExpectsGreeting() const { return m_expectsGreeting; }
  bool Accept(long requestID);
  void CloseSocket();
  long InitSocket();

  // ---- properties
  long State() const { return m_state; }
  long SocketHandle() const { return m_handle; }
  long Protocol() const { return m_protocol; }
  void SetProtocol(long protocol);  // only while there is no handle
  std::string RemoteHost() const { return m_remoteHost; }
  void SetRemoteHost(const std::string& host);
  long RemotePort() const { return m_remotePort == 0 ? 21 : m_remotePort; }
  void SetRemotePort(long port);
  long LocalPort() const { return m_localPort; }
  void SetLocalPort(long port) { m_localPort = port; }
  std::string LocalIP() const { return m_localIP; }
  // Looked up only when read: connecting never sends a query.
  std::string LocalHostName();
  double BytesReceived() const { return m_bytesReceived; }
  long ChunkSize() const { return m_chunkSize; }
  void SetChunkSize(long size);
  long ReceiveSize() const { return m_receiveSize; }
  long SendSize() const { return m_sendSize; }
  // Bytes of the last SendData still waiting to go out.
  double PendingSendLength() const { return static_cast<double>(m_pending.size() - m_pendingOffset); }
  // The code page of GetData/SendData text (the process's by default).
  CodePage GetCodePage() const { return m_codePage; }
  void SetCodePage(CodePage cp) { m_codePage = cp; }
  // TCP keep-alive probes on the connection (for a long idle control
  // connection behind a firewall).
  void SetKeepAlive(bool on);
  // ---- TLS (explicit FTPS)
  // Starts a client handshake on the connected socket, checking the server
  // against `serverName` as `context` says and offering `resume` (may be
  // null). OnTlsReady follows once it is done and the certificate passed;
  // a failure closes the socket with an error (kErrTlsCertificate with the
  // reason in TlsProblem(), or kErrTlsHandshake). From then on what is
  // sent and read goes through TLS, and a close sends close_notify first.
  bool StartTls(const TlsContext& context, const std::string& serverName, ssl_session_st* resume);
  std::function<void()> OnTlsReady;
  bool TlsActive() const { return m_ssl != nullptr; }
  // close_notify now, before the connection is cut (a server keeps the
  // session of a connection that ended cleanly for the next one).
  void SendTlsCloseNotify();
  bool TlsHandshaking() const { return m_tlsHandshaking; }
  const std::string& TlsProblem() const { return m_tlsProblem; }
  // The connection's session, for resuming on another connection (a new
  // reference; null without TLS).
  ssl_session_st* TlsSession() const;
  std::string TlsText() const { return m_ssl ? TlsDescription(m_ssl) : ""; }

  // At most this many bytes a second are read and sent (0: no limit), on
  // every connection of this object. Reads and sends that would go over it
  // wait, with the socket's watch off, for a loop timer: nothing sleeps.
  void SetRateLimit(double bytesPerSecond);
  double RateLimit() const { return m_rate; }

  // Public fields kept for the owner.
  long m_lngPostEventErrorID = 0;

 private:
  // Makes the handle when there is none, of `family` (AF_INET, AF_INET6;
  // 0: the last one used), replacing one of the other family.
  bool SocketExists(int family = 0);
  void GetWinsockBuffers();
  void SetNoDelay();
  void DestroySocket();
  // One receive call into the read buffer: bytes read, 0 at the peer's
  // close, -1 when nothing is there yet, -2 on an error (in `error`).
  long ReceiveChunk(int* error);
  long RecvDataToBuffer();
  bool RecvData(std::string& data, VarType type, long maxLen, bool peek);
  void StartWatch();
  void UpdateWatchInterest();
  void OnReady(unsigned ioEvents);
  void PostSocketEvent(int event, int error, long received = 0);
  void EventErrorPath(int event, int number);
  void PostWriteEvent();
  static size_t FixedSizeOf(VarType type);
  void ReportOperationError(const std::string& operation, int number, const std::string& description);
  void ReadLocalAddress();
  // How many of `want` bytes the rate limit lets move now (all without one);
  // 0 after starting the wait for more.
  size_t Allowance(size_t want);
  void AllowanceCameBack();
  void TlsHandshakeStep();
  // A read or write that TLS could not finish: -1 when it waits for the
  // socket (the watch set for it), -2 with `error` set when it failed.
  long TlsFailure(int result, int* error);
  // Sends what the system takes of `size` bytes at `data`, which are the
  // queue's unsent bytes (`queued`) or a caller's, whose rest is queued.
  bool SendFrom(const char* data, size_t size, bool queued);

  long m_handle = -1;
  int m_family = 2;  // AF_INET, or AF_INET6: the handle's address family
  long m_state = kStateClosed;
  long m_protocol = 0;
  std::string m_remoteHost;
  long m_remotePort = 0;
  long m_localPort = 0;
  std::string m_localIP;
  std::string m_localHostName;
  bool m_localHostNameKnown = false;
  double m_bytesReceived = 0;
  long m_chunkSize = 0;
  long m_receiveSize = 0;
  long m_sendSize = 0;
  CodePage m_codePage;
  bool m_bound = false;
  bool m_listCommand = false;

  int m_hostError = 0;  // recorded when RemoteHost did not resolve

  std::string m_slot;     // the receive slot: the last chunk received
  std::string m_pending;  // bytes queued by SendData and not yet sent
  size_t m_pendingOffset = 0;
  std::unique_ptr<char[]> m_recvBuffer;  // one receive call's worth
  size_t m_recvBufferSize = 0;
  ByteSink* m_sink = nullptr;  // see SetReceiveSink
  bool m_lastReadToSink = false;  // the last ReceiveChunk went into m_sink
  bool m_waitingWritable = false;   // the system took less than offered
  bool m_shutdownWhenSent = false;  // CloseSocket waits for the queue to drain

  // The connect check: a connect completed and nothing received since.
  bool m_awaitingFirstData = false;
  bool m_expectsGreeting = false;  // see SetExpectsGreeting

  ssl_st* m_ssl = nullptr;
  const TlsContext* m_tlsContext = nullptr;
  bool m_tlsHandshaking = false;
  bool m_tlsWantsWrite = false;  // TLS waits until the socket can take bytes
  bool m_tlsHoldsMore = false;   // the next read is due at once (records or a close left inside TLS)
  size_t m_tlsRetryLength = 0;   // the length of a write TLS must repeat
  std::string m_tlsProblem;

  double m_rate = 0;            // bytes a second, 0: no limit
  double m_allowance = 0;       // bytes that may move now
  MonoTime m_allowanceAt{};     // when m_allowance was last brought up to date
  bool m_rateWait = false;      // reads and sends wait for m_rateTimer
  LoopTimer m_rateTimer;

  LoopWatch m_watch;
  bool m_writePosted = false;
  // Posted events check this token, so an event posted for a socket that has
  // since been destroyed or re-opened is dropped.
  std::shared_ptr<uint64_t> m_alive;
};

}  // namespace pellan
