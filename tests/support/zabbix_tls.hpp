#pragma once

#include <string>

#include "support/temp_dir.hpp"

namespace sonda::test {

// The TLS material of the test Zabbix server (scripts/lib/zabbix.sh, zbx_make_tls) and its
// hosts that take only PSK or only certificates.
struct ZabbixTlsSetup {
  std::string dir, psk_identity, server_subject, ca_subject, psk_host, cert_host;
  std::string file(const std::string& name) const { return dir + "/" + name; }
};
const ZabbixTlsSetup& zabbix_tls_setup();

// Agent configuration lines that connect with the test PSK, or with the test client
// certificate (checking the server's issuer and subject).
std::string psk_lines();
std::string certificate_lines();

// Writes an agent configuration naming a test Zabbix server (by default the 6.0 one) in
// ServerActive, followed by `lines`, and returns its path.
std::string agent_configuration(const TempDir& dir, const std::string& lines,
                                const std::string& server_address = "",
                                const std::string& name = "zabbix_agentd.conf");

}  // namespace sonda::test
