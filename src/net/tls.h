// TLS for the engine's connections (explicit FTPS): one client context per
// session with the trust it was given, and the checks of a server's
// certificate. The socket drives each connection's TLS on its own
// readiness (see CSocket::StartTls); nothing here blocks.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct ssl_ctx_st;
struct ssl_st;
struct ssl_session_st;

namespace pellan {

struct TlsTrust {
  std::string caFile;  // certificates to trust instead of the system's store ("": the system's)
  std::string pin;     // "sha256:" and the certificate's SHA-256 (hex, ':' allowed): exactly that one
  bool tls12Only = false;  // TLS 1.2 at most (for a server that fails under 1.3)
};

class TlsContext {
 public:
  TlsContext() = default;
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  // Makes the context (TLS 1.2 or later, peer checked); false with Error().
  bool Configure(const TlsTrust& trust);
  ssl_ctx_st* Get() const { return m_ctx; }
  // The newest session ticket not offered yet, from any connection of this
  // context (the caller owns it); null when there is none. A TLS 1.3 ticket
  // may serve only once, so each data connection takes a fresh one.
  ssl_session_st* TakeFreshSession();
  // Forgets the tickets kept (a new login: they were for another session).
  void ForgetSessions();
  const std::string& Error() const { return m_error; }
  const TlsTrust& Trust() const { return m_trust; }

 private:
  static int NewSession(ssl_st* ssl, ssl_session_st* session);

  ssl_ctx_st* m_ctx = nullptr;
  TlsTrust m_trust;
  std::vector<ssl_session_st*> m_fresh;  // newest last
  std::string m_error;
};

// A client connection's TLS over a connected socket `fd`, checking the
// server against `name` (a host name or an address literal) and offering
// `resume` (may be null). Null with `error` on failure.
ssl_st* NewTlsConnection(const TlsContext& context, int fd, const std::string& name, ssl_session_st* resume,
                         std::string* error);
// After a handshake that failed or succeeded: what did not match when the
// certificate was refused ("" when it was accepted, or the failure was
// not about the certificate).
std::string TlsCertificateProblem(ssl_st* ssl, const TlsContext& context);
// "TLSv1.3 TLS_AES_256_GCM_SHA384, resumed" of a connection.
std::string TlsDescription(ssl_st* ssl);
// The text of the last OpenSSL errors of this thread (emptied).
std::string TlsErrorText();

}  // namespace pellan
