#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/failure.hpp"

using SSL = struct ssl_st;
using SSL_CTX = struct ssl_ctx_st;

namespace sonda {

// A TLS handshake or exchange failed. The message is OpenSSL's reason (or the certificate
// check's), never key material.
class TlsError : public Failure {
 public:
  enum class Stage { handshake, certificate, exchange };
  TlsError(Stage stage, const std::string& message) : Failure("TlsError", message), stage_(stage) {}
  // Where it failed: during the handshake (the peer refused or broke it), in the check of the
  // peer's certificate, or after the handshake.
  Stage stage() const { return stage_; }

 private:
  Stage stage_;
};

struct SslContextFree {
  void operator()(SSL_CTX* context) const;
};
// An OpenSSL context (settings shared by many sessions), freed by its owner.
using SslContext = std::unique_ptr<SSL_CTX, SslContextFree>;

// The text of the oldest OpenSSL error queued on this thread (empty when none), and an empty
// queue afterwards.
std::string take_openssl_errors();

// A TLS client session over a connected non-blocking socket, which it does not own. Every wait
// for the socket goes through `wait` (given POLLIN or POLLOUT), which bounds it and throws when
// the time is up; so the handshake and every read and write end when the caller's time does.
// The session sends its close_notify, without waiting for the peer's, when destroyed.
class TlsSession {
 public:
  using Wait = std::function<void(short events)>;

  // Runs the handshake. Raises TlsError (stage handshake or certificate) when it fails.
  TlsSession(SSL_CTX* context, int fd, Wait wait);
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // Writes some of `data` (at least one byte, waiting as needed) and returns how much.
  std::size_t write_some(std::string_view data);
  // Reads what has arrived, at most `size` bytes, waiting for something first; 0 once the peer
  // has closed the session. Raises TlsError when the stream breaks.
  std::size_t read_some(char* buffer, std::size_t size);

  // The peer certificate's subject or issuer in RFC 4514 form ("CN=x,O=y"); empty without one.
  std::string peer_subject() const;
  std::string peer_issuer() const;

 private:
  // After an OpenSSL call returned `result`: waits when it asks for it (true: call again),
  // false when the peer closed; raises TlsError otherwise.
  bool retry_after(int result, TlsError::Stage stage);

  SSL* ssl_ = nullptr;
  Wait wait_;
  bool broken_ = false;  // after a TLS error, OpenSSL allows no close_notify
};

}  // namespace sonda
