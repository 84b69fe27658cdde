#include "net/tls.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cctype>
#include <cstdio>

#include "net/socket_support.h"

namespace pellan {

namespace {

// "AB:CD:…" of a certificate's SHA-256.
std::string Fingerprint(X509* certificate) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (certificate == nullptr || X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return "";
  std::string text;
  char hex[4];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : ":%02X", digest[i]);
    text += hex;
  }
  return text;
}

// The pin's hex digits in capitals, without separators.
std::string Digits(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += static_cast<char>(std::toupper(c));
  }
  return digits;
}

}  // namespace

TlsContext::~TlsContext() {
  ForgetSessions();
  if (m_ctx != nullptr) SSL_CTX_free(m_ctx);
}

int TlsContext::NewSession(ssl_st* ssl, ssl_session_st* session) {
  auto* self = static_cast<TlsContext*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
  if (self == nullptr || !SSL_SESSION_is_resumable(session)) return 0;
  self->m_fresh.push_back(session);
  // A few are plenty: each data connection brings one more.
  if (self->m_fresh.size() > 8) {
    SSL_SESSION_free(self->m_fresh.front());
    self->m_fresh.erase(self->m_fresh.begin());
  }
  return 1;  // the reference is ours now
}

ssl_session_st* TlsContext::TakeFreshSession() {
  if (m_fresh.empty()) return nullptr;
  SSL_SESSION* session = m_fresh.back();
  m_fresh.pop_back();
  return session;
}

void TlsContext::ForgetSessions() {
  for (SSL_SESSION* session : m_fresh) SSL_SESSION_free(session);
  m_fresh.clear();
}

bool TlsContext::Configure(const TlsTrust& trust) {
  m_trust = trust;
  m_error.clear();
  if (!trust.pin.empty() && (trust.pin.rfind("sha256:", 0) != 0 || Digits(trust.pin.substr(7)).size() != 64)) {
    m_error = "a pin is \"sha256:\" and 64 hex digits, not '" + trust.pin + "'";
    return false;
  }
  if (m_ctx == nullptr) m_ctx = SSL_CTX_new(TLS_client_method());
  if (m_ctx == nullptr) {
    m_error = TlsErrorText();
    return false;
  }
  SSL_CTX_set_min_proto_version(m_ctx, TLS1_2_VERSION);
  SSL_CTX_set_max_proto_version(m_ctx, trust.tls12Only ? TLS1_2_VERSION : 0);
  // Partial writes keep the send queue's own accounting; the buffer moves
  // as the queue is trimmed.
  SSL_CTX_set_mode(m_ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // Room for several records per read once the handshake is done.
  SSL_CTX_set_default_read_buffer_len(m_ctx, 64 << 10);
  // Sessions are kept here, as they come, for the data connections.
  ForgetSessions();
  SSL_CTX_set_app_data(m_ctx, this);
  SSL_CTX_set_session_cache_mode(m_ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(m_ctx, &TlsContext::NewSession);
  // The servers here pick P-256: offering it first saves a round trip.
  SSL_CTX_set1_groups_list(m_ctx, "P-256:X25519:P-384");
  // A pinned certificate is checked by its digest alone, after the handshake.
  SSL_CTX_set_verify(m_ctx, trust.pin.empty() ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
  const bool loaded = trust.caFile.empty() ? SSL_CTX_set_default_verify_paths(m_ctx) == 1
                                           : SSL_CTX_load_verify_locations(m_ctx, trust.caFile.c_str(), nullptr) == 1;
  if (!loaded) {
    m_error = "certificates not loaded from " + (trust.caFile.empty() ? std::string("the system's store") : trust.caFile) +
              ": " + TlsErrorText();
    return false;
  }
  return true;
}

ssl_st* NewTlsConnection(const TlsContext& context, int fd, const std::string& name, ssl_session_st* resume,
                         std::string* error) {
  SSL* ssl = SSL_new(context.Get());
  if (ssl == nullptr || SSL_set_fd(ssl, fd) != 1) {
    *error = TlsErrorText();
    if (ssl != nullptr) SSL_free(ssl);
    return nullptr;
  }
  const bool address = IsDottedAddress(name) || IsIpv6Address(name);
  if (!address) SSL_set_tlsext_host_name(ssl, name.c_str());
  if (context.Trust().pin.empty()) {
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    if (address) {
      X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str());
    } else {
      X509_VERIFY_PARAM_set1_host(param, name.c_str(), 0);
    }
  }
  SSL_set_connect_state(ssl);
  if (resume != nullptr) SSL_set_session(ssl, resume);
  return ssl;
}

std::string TlsCertificateProblem(ssl_st* ssl, const TlsContext& context) {
  if (!context.Trust().pin.empty()) {
    const std::string seen = Fingerprint(SSL_get0_peer_certificate(ssl));
    if (Digits(seen) == Digits(context.Trust().pin.substr(7))) return "";
    return "the certificate is not the pinned one (it is sha256:" + seen + ")";
  }
  const long result = SSL_get_verify_result(ssl);
  if (result == X509_V_OK) return "";
  return X509_verify_cert_error_string(result);
}

std::string TlsDescription(ssl_st* ssl) {
  return std::string(SSL_get_version(ssl)) + " " + SSL_get_cipher_name(ssl) +
         (SSL_session_reused(ssl) ? ", resumed" : "");
}

std::string TlsErrorText() {
  std::string text;
  for (unsigned long e; (e = ERR_get_error()) != 0;) {
    char line[256];
    ERR_error_string_n(e, line, sizeof line);
    text += (text.empty() ? "" : "; ") + std::string(line);
  }
  return text.empty() ? "no details" : text;
}

}  // namespace pellan
