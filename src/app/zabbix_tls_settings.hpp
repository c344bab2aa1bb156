#pragma once

#include <string>

#include "app/zabbix_server.hpp"
#include "outside/zabbix/zabbix_tls.hpp"

namespace sonda {

// The TLS settings of the Zabbix agent configuration file `path`, read as zabbix_sender -c
// reads them: TLSConnect (unencrypted, the default; psk; cert), TLSPSKIdentity, TLSPSKFile,
// TLSCAFile, TLSCRLFile, TLSCertFile, TLSKeyFile, TLSServerCertIssuer, TLSServerCertSubject.
// With psk the key file is read here. Raises ConfigError, naming the file and the setting, for
// an unknown TLSConnect, a setting given twice, a setting the mode needs and does not have, a
// PSK file that cannot be read or whose key is not 32 to 512 hexadecimal digits, or an
// identity longer than 128 bytes. The key's contents never appear in a message.
ZabbixTls zabbix_tls_settings(const std::string& path);

// The TLS settings of this run: those of zabbix_configuration_file() of the default sources,
// or unencrypted when there is no such file.
ZabbixTls get_zabbix_tls();

}  // namespace sonda
