#pragma once

#include <string>
#include <vector>

#include "app/config_lines.hpp"
#include "outside/zabbix/zabbix_tls.hpp"

namespace sonda {

// Most bytes of a PSK file: a key of at most 512 hexadecimal digits on its first line.
inline constexpr std::size_t kMaxPskFile = 64 * 1024;

// The TLS settings of the lines of a Zabbix agent configuration (`path` and the files it
// includes), read as zabbix_sender -c reads them: TLSConnect (unencrypted, the default; psk;
// cert), TLSPSKIdentity, TLSPSKFile, TLSCAFile, TLSCRLFile, TLSCertFile, TLSKeyFile,
// TLSServerCertIssuer, TLSServerCertSubject. With psk the key file is read here. Raises
// ConfigError, naming the file and line of the setting, for an unknown TLSConnect, a setting
// given twice, a setting the mode needs and does not have, a PSK file that cannot be read (or
// passes kMaxPskFile) or whose key is not 32 to 512 hexadecimal digits in whole bytes, or an
// identity longer than 128 bytes. The key's contents never appear in a message.
ZabbixTls zabbix_tls_settings(const std::vector<ConfigLine>& lines, const std::string& path);

}  // namespace sonda
