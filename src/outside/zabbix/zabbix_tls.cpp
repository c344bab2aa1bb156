#include "outside/zabbix/zabbix_tls.hpp"

#include <cstring>
#include <optional>
#include <vector>

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include "core/failure.hpp"

namespace sonda {

namespace {

// What the PSK callback hands to OpenSSL; lives as long as the context that points to it.
struct PskMaterial {
  std::string identity;
  std::vector<unsigned char> key;
  ~PskMaterial() { OPENSSL_cleanse(key.data(), key.size()); }
};

unsigned int give_psk(SSL* ssl, const char* /*hint*/, char* identity, unsigned int identity_room,
                      unsigned char* key, unsigned int key_room) {
  const auto* psk = static_cast<const PskMaterial*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
  if (psk == nullptr || psk->identity.size() + 1 > identity_room || psk->key.size() > key_room) {
    return 0;
  }
  std::memcpy(identity, psk->identity.c_str(), psk->identity.size() + 1);
  std::memcpy(key, psk->key.data(), psk->key.size());
  return static_cast<unsigned int>(psk->key.size());
}

[[noreturn]] void fail(const ZabbixTls& settings, const std::string& what) {
  throw ZabbixError("configuração TLS do Zabbix em " + settings.source + ": " + what);
}

std::unique_ptr<PskMaterial> psk_material(const ZabbixTls& settings) {
  auto psk = std::make_unique<PskMaterial>();
  psk->identity = settings.psk_identity;
  long length = 0;
  unsigned char* bytes = OPENSSL_hexstr2buf(settings.psk.c_str(), &length);
  if (bytes == nullptr) {
    ERR_clear_error();
    fail(settings, "a chave de TLSPSKFile não é hexadecimal");
  }
  psk->key.assign(bytes, bytes + length);
  OPENSSL_clear_free(bytes, static_cast<std::size_t>(length));
  return psk;
}

void load_certificates(SSL_CTX* context, const ZabbixTls& settings) {
  if (SSL_CTX_load_verify_locations(context, settings.ca_file.c_str(), nullptr) != 1) {
    fail(settings, "não foi possível ler as CAs de TLSCAFile " + settings.ca_file + ": " +
                       take_openssl_errors());
  }
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  if (!settings.crl_file.empty()) {
    X509_STORE* store = SSL_CTX_get_cert_store(context);
    if (X509_STORE_load_file(store, settings.crl_file.c_str()) != 1) {
      fail(settings, "não foi possível ler a lista de revogação de TLSCRLFile " +
                         settings.crl_file + ": " + take_openssl_errors());
    }
    X509_STORE_set_flags(store, X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
  }
  if (SSL_CTX_use_certificate_chain_file(context, settings.cert_file.c_str()) != 1) {
    fail(settings, "não foi possível ler o certificado de TLSCertFile " + settings.cert_file +
                       ": " + take_openssl_errors());
  }
  // OpenSSL's reasons name the failure, never the key's bytes.
  if (SSL_CTX_use_PrivateKey_file(context, settings.key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
    fail(settings, "não foi possível ler a chave privada de TLSKeyFile " + settings.key_file +
                       ": " + take_openssl_errors());
  }
  if (SSL_CTX_check_private_key(context) != 1) {
    ERR_clear_error();
    fail(settings, "a chave de TLSKeyFile " + settings.key_file +
                       " não corresponde ao certificado de TLSCertFile " + settings.cert_file);
  }
}

std::string settings_advice(const ZabbixTls& settings, TlsError::Stage stage) {
  if (settings.mode == ZabbixTlsMode::psk) {
    return " (confira TLSPSKIdentity e TLSPSKFile em " + settings.source +
           ": o servidor Zabbix precisa ter esse PSK para essa identidade, e o host precisa "
           "aceitar conexões PSK)";
  }
  if (stage == TlsError::Stage::certificate) {
    return " (confira TLSCAFile e TLSCRLFile em " + settings.source +
           ": o certificado do servidor Zabbix deve ser assinado por essa CA, estar dentro da "
           "validade e não estar revogado)";
  }
  return " (confira TLSCertFile e TLSKeyFile em " + settings.source +
         ": o servidor Zabbix precisa aceitar esse certificado, e o host precisa aceitar "
         "conexões com certificado)";
}

void check_peer_name(const ZabbixTls& settings, const std::string& what, const std::string& setting,
                     const std::string& wanted, const std::string& found) {
  if (wanted.empty() || wanted == found) return;
  throw TlsError(TlsError::Stage::certificate,
                 "o " + what + " do certificado do servidor Zabbix é \"" + found + "\", não \"" +
                     wanted + "\" (confira " + setting + " em " + settings.source + ")");
}

}  // namespace

struct ZabbixTlsContext::Active {
  ZabbixTls settings;
  std::unique_ptr<PskMaterial> psk;
  SslContext context;
};

ZabbixTlsContext::ZabbixTlsContext(const ZabbixTls& settings) {
  if (settings.mode == ZabbixTlsMode::unencrypted) return;
  // OpenSSL cleans up at exit; started before the first context, it does so after every
  // context is freed.
  [[maybe_unused]] static const bool started = OPENSSL_init_ssl(0, nullptr) == 1;

  ERR_clear_error();
  SslContext context(SSL_CTX_new(TLS_client_method()));
  if (!context) fail(settings, "o OpenSSL não iniciou: " + take_openssl_errors());
  SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
  // The answer frame carries its own length: a close without close_notify loses nothing unseen.
  SSL_CTX_set_options(context.get(), SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_TICKET);
  SSL_CTX_set_mode(context.get(), SSL_MODE_ENABLE_PARTIAL_WRITE);

  auto active = std::make_unique<Active>(Active{settings, nullptr, nullptr});
  if (settings.mode == ZabbixTlsMode::psk) {
    active->psk = psk_material(settings);
    // The suites the Zabbix server offers for PSK in TLS 1.2; TLS 1.3 keeps its own.
    if (SSL_CTX_set_cipher_list(context.get(), "kECDHEPSK+AES128:kPSK+AES128") != 1) {
      fail(settings, "o OpenSSL não oferece as cifras PSK: " + take_openssl_errors());
    }
    SSL_CTX_set_app_data(context.get(), active->psk.get());
    SSL_CTX_set_psk_client_callback(context.get(), give_psk);
  } else {
    load_certificates(context.get(), settings);
  }
  active->context = std::move(context);
  active_ = std::move(active);
}

ZabbixTlsContext::~ZabbixTlsContext() = default;

std::string ZabbixTlsContext::advice() const {
  if (!active_) return {};
  return settings_advice(active_->settings, TlsError::Stage::exchange);
}

std::unique_ptr<TlsSession> ZabbixTlsContext::start(int fd, TlsSession::Wait wait) const {
  if (!active_) return nullptr;
  const Active& tls = *active_;
  std::unique_ptr<TlsSession> session;
  try {
    session = std::make_unique<TlsSession>(tls.context.get(), fd, std::move(wait));
  } catch (const TlsError& error) {
    throw TlsError(error.stage(), "handshake TLS recusado: " + std::string(error.what()) +
                                      settings_advice(tls.settings, error.stage()));
  }
  if (tls.settings.mode == ZabbixTlsMode::certificate) {
    check_peer_name(tls.settings, "emissor", "TLSServerCertIssuer", tls.settings.server_cert_issuer,
                    session->peer_issuer());
    check_peer_name(tls.settings, "titular", "TLSServerCertSubject",
                    tls.settings.server_cert_subject, session->peer_subject());
  }
  return session;
}

}  // namespace sonda
