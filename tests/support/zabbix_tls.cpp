#include "support/zabbix_tls.hpp"

#include "support/servers.hpp"
#include "support/zabbix_api.hpp"

namespace sonda::test {

const ZabbixTlsSetup& zabbix_tls_setup() {
  static const ZabbixTlsSetup setup{server_setting("SONDA_TEST_ZBX_TLS_DIR"),
                                    server_setting("SONDA_TEST_ZBX_PSK_IDENTITY"),
                                    server_setting("SONDA_TEST_ZBX_SERVER_SUBJECT"),
                                    server_setting("SONDA_TEST_ZBX_CA_SUBJECT"),
                                    server_setting("SONDA_TEST_ZBX_PSK_HOST"),
                                    server_setting("SONDA_TEST_ZBX_CERT_HOST")};
  return setup;
}

std::string psk_lines() {
  const ZabbixTlsSetup& tls = zabbix_tls_setup();
  return "TLSConnect=psk\nTLSPSKIdentity=" + tls.psk_identity +
         "\nTLSPSKFile=" + tls.file("probe.psk") + "\n";
}

std::string certificate_lines() {
  const ZabbixTlsSetup& tls = zabbix_tls_setup();
  return "TLSConnect=cert\nTLSCAFile=" + tls.file("ca.pem") +
         "\nTLSCertFile=" + tls.file("client.pem") + "\nTLSKeyFile=" + tls.file("client.key") +
         "\nTLSServerCertIssuer=" + tls.ca_subject +
         "\nTLSServerCertSubject=" + tls.server_subject + "\n";
}

std::string agent_configuration(const TempDir& dir, const std::string& lines,
                                const std::string& server_address, const std::string& name) {
  const std::string address = server_address.empty() ? zabbix_server().address : server_address;
  return dir.write(name, "# Zabbix agent\nServerActive=" + address + "\n" + lines);
}

}  // namespace sonda::test
