#pragma once

#include <memory>
#include <string>

#include "outside/net/tls_session.hpp"

namespace sonda {

// How connections to the Zabbix server are protected, as TLSConnect says.
enum class ZabbixTlsMode { unencrypted, psk, certificate };

// The TLS settings of a Zabbix agent configuration file, as zabbix_sender -c reads them.
// Paths are as written in the file; `psk` is the key itself, in hexadecimal.
struct ZabbixTls {
  ZabbixTlsMode mode = ZabbixTlsMode::unencrypted;
  std::string source;  // the file they came from, for messages
  std::string psk_identity;
  std::string psk;
  std::string ca_file;
  std::string crl_file;
  std::string cert_file;
  std::string key_file;
  std::string server_cert_issuer;
  std::string server_cert_subject;
};

// The TLS side of a run's connections to the Zabbix server, made once from its settings.
class ZabbixTlsContext {
 public:
  // Loads the certificates, key and revocation list now, so that a file that cannot be used
  // fails the run before anything is sent. Raises ZabbixError naming the setting to check; the
  // key's contents never appear in it. Unencrypted settings make a context that starts nothing.
  explicit ZabbixTlsContext(const ZabbixTls& settings);
  ~ZabbixTlsContext();
  ZabbixTlsContext(const ZabbixTlsContext&) = delete;
  ZabbixTlsContext& operator=(const ZabbixTlsContext&) = delete;

  // Starts TLS on a connected socket to the Zabbix server, with every wait through `wait`;
  // nothing when the connections are unencrypted. Checks the server's certificate issuer and
  // subject where they are set. Raises TlsError (the message says which setting to check).
  std::unique_ptr<TlsSession> start(int fd, TlsSession::Wait wait) const;

  // What to check when a TLS connection breaks after its handshake: the Zabbix server judges
  // the probe's certificate (its chain, issuer and subject) only once the handshake is over,
  // and then just closes. Empty when the connections are unencrypted.
  std::string advice() const;

 private:
  struct Active;
  std::unique_ptr<Active> active_;  // none when unencrypted
};

}  // namespace sonda
