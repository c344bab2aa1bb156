#include "outside/net/tls_session.hpp"

#include <poll.h>

#include <cerrno>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "core/errno_text.hpp"

namespace sonda {

namespace {

std::string name_text(const X509_NAME* name) {
  if (name == nullptr) return {};
  const std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), &BIO_free);
  // The form Zabbix compares TLSServerCertIssuer and TLSServerCertSubject with: RFC 4514, the
  // last component first, UTF-8 left as is.
  if (!out || X509_NAME_print_ex(out.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0) {
    return {};
  }
  char* data = nullptr;
  const long length = BIO_get_mem_data(out.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

}  // namespace

void SslContextFree::operator()(SSL_CTX* context) const { SSL_CTX_free(context); }

std::string take_openssl_errors() {
  const unsigned long first = ERR_get_error();
  ERR_clear_error();
  if (first == 0) return {};
  const char* reason = ERR_reason_error_string(first);
  if (reason != nullptr) return reason;
  char text[256];
  ERR_error_string_n(first, text, sizeof text);
  return text;
}

TlsSession::TlsSession(SSL_CTX* context, int fd, Wait wait) : wait_(std::move(wait)) {
  ERR_clear_error();
  ssl_ = SSL_new(context);
  if (ssl_ == nullptr || SSL_set_fd(ssl_, fd) != 1) {
    if (ssl_ != nullptr) SSL_free(ssl_);
    ssl_ = nullptr;
    throw TlsError(TlsError::Stage::handshake,
                   "não foi possível iniciar a sessão TLS: " + take_openssl_errors());
  }
  try {
    for (;;) {
      const int result = SSL_connect(ssl_);
      if (result == 1) break;
      if (!retry_after(result, TlsError::Stage::handshake)) {
        throw TlsError(TlsError::Stage::handshake,
                       "o servidor encerrou a conexão durante o handshake TLS");
      }
    }
  } catch (...) {
    SSL_free(ssl_);
    throw;
  }
}

TlsSession::~TlsSession() {
  // One close_notify, without waiting for the peer's: the exchange is over either way.
  if (!broken_) (void)SSL_shutdown(ssl_);
  SSL_free(ssl_);
  ERR_clear_error();
}

bool TlsSession::retry_after(int result, TlsError::Stage stage) {
  const int error = SSL_get_error(ssl_, result);
  broken_ = error == SSL_ERROR_SSL || error == SSL_ERROR_SYSCALL;
  switch (error) {
    case SSL_ERROR_WANT_READ:
      wait_(POLLIN);
      return true;
    case SSL_ERROR_WANT_WRITE:
      wait_(POLLOUT);
      return true;
    case SSL_ERROR_ZERO_RETURN:
      return false;
    case SSL_ERROR_SYSCALL: {
      const int saved = errno;
      const std::string queued = take_openssl_errors();
      if (!queued.empty()) throw TlsError(stage, queued);
      if (saved == EINTR) return true;
      if (saved == 0 || saved == EAGAIN) return false;  // closed without close_notify
      throw TlsError(stage, errno_text(saved));
    }
    default:
      break;
  }
  if (stage == TlsError::Stage::handshake) {
    const long verified = SSL_get_verify_result(ssl_);
    if (verified != X509_V_OK) {
      ERR_clear_error();
      throw TlsError(TlsError::Stage::certificate, X509_verify_cert_error_string(verified));
    }
  }
  const std::string queued = take_openssl_errors();
  throw TlsError(stage, queued.empty() ? "erro TLS " + std::to_string(error) : queued);
}

std::size_t TlsSession::write_some(std::string_view data) {
  for (;;) {
    std::size_t written = 0;
    const int result = SSL_write_ex(ssl_, data.data(), data.size(), &written);
    if (result == 1) return written;
    if (!retry_after(result, TlsError::Stage::exchange)) {
      throw TlsError(TlsError::Stage::exchange, "o servidor encerrou a sessão TLS durante o envio");
    }
  }
}

std::size_t TlsSession::read_some(char* buffer, std::size_t size) {
  for (;;) {
    std::size_t got = 0;
    const int result = SSL_read_ex(ssl_, buffer, size, &got);
    if (result == 1) return got;
    if (!retry_after(result, TlsError::Stage::exchange)) return 0;
  }
}

std::string TlsSession::peer_subject() const {
  X509* peer = SSL_get0_peer_certificate(ssl_);
  return peer ? name_text(X509_get_subject_name(peer)) : std::string();
}

std::string TlsSession::peer_issuer() const {
  X509* peer = SSL_get0_peer_certificate(ssl_);
  return peer ? name_text(X509_get_issuer_name(peer)) : std::string();
}

}  // namespace sonda
