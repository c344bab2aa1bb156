#include "app/zabbix_tls_settings.hpp"

#include <cerrno>
#include <fstream>
#include <map>

#include "app/agent_configuration.hpp"
#include "app/run_settings.hpp"
#include "core/errno_text.hpp"

namespace sonda {

namespace {

constexpr std::size_t kMaxIdentity = 128;
constexpr std::size_t kMinPskDigits = 32;
constexpr std::size_t kMaxPskDigits = 512;

constexpr std::string_view kTlsKeys[] = {
    "TLSConnect",  "TLSPSKIdentity", "TLSPSKFile",          "TLSCAFile",           "TLSCRLFile",
    "TLSCertFile", "TLSKeyFile",     "TLSServerCertIssuer", "TLSServerCertSubject"};

bool is_tls_key(std::string_view key) {
  for (std::string_view known : kTlsKeys) {
    if (key == known) return true;
  }
  return false;
}

// The TLS lines of the file, by name.
std::map<std::string, std::string, std::less<>> tls_lines(const std::string& path) {
  const auto read = read_agent_configuration(path);
  if (!read) {
    throw ConfigError("não foi possível ler a configuração do Zabbix " + path + ": " +
                      errno_text());
  }
  std::map<std::string, std::string, std::less<>> lines;
  for (const AgentLine& line : *read) {
    if (!is_tls_key(line.key)) continue;
    if (!lines.emplace(line.key, line.value).second) {
      throw ConfigError(line.key + " aparece mais de uma vez em " + path + " (linha " +
                        std::to_string(line.number) + "); deixe uma só");
    }
  }
  return lines;
}

std::string setting(const std::map<std::string, std::string, std::less<>>& lines,
                    std::string_view key) {
  const auto found = lines.find(key);
  return found == lines.end() ? std::string() : found->second;
}

std::string required(const std::map<std::string, std::string, std::less<>>& lines,
                     std::string_view key, const std::string& path, std::string_view mode) {
  std::string value = setting(lines, key);
  if (value.empty()) {
    throw ConfigError("TLSConnect=" + std::string(mode) + " em " + path + " exige " +
                      std::string(key));
  }
  return value;
}

// The key of a PSK file: its first line, of hexadecimal digits only.
std::string read_psk(const std::string& path, const std::string& source) {
  std::ifstream file(path);
  if (!file) {
    throw ConfigError("não foi possível ler o arquivo de TLSPSKFile " + path + " (de " + source +
                      "): " + errno_text());
  }
  std::string line;
  std::getline(file, line);
  const std::string_view key = trimmed(line);
  const bool hexadecimal = key.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
  if (!hexadecimal || key.size() < kMinPskDigits || key.size() > kMaxPskDigits) {
    throw ConfigError("o PSK do arquivo de TLSPSKFile " + path + " (de " + source +
                      ") deve ter de 32 a 512 dígitos hexadecimais, como os que "
                      "\"openssl rand -hex 32\" gera");
  }
  return std::string(key);
}

}  // namespace

ZabbixTls zabbix_tls_settings(const std::string& path) {
  const auto lines = tls_lines(path);
  ZabbixTls tls;
  tls.source = path;
  const std::string mode = setting(lines, "TLSConnect");
  if (mode.empty() || mode == "unencrypted") return tls;

  if (mode == "psk") {
    tls.mode = ZabbixTlsMode::psk;
    tls.psk_identity = required(lines, "TLSPSKIdentity", path, mode);
    if (tls.psk_identity.size() > kMaxIdentity) {
      throw ConfigError("TLSPSKIdentity em " + path + " passa de 128 bytes");
    }
    tls.psk = read_psk(required(lines, "TLSPSKFile", path, mode), path);
    return tls;
  }
  if (mode == "cert") {
    tls.mode = ZabbixTlsMode::certificate;
    tls.ca_file = required(lines, "TLSCAFile", path, mode);
    tls.cert_file = required(lines, "TLSCertFile", path, mode);
    tls.key_file = required(lines, "TLSKeyFile", path, mode);
    tls.crl_file = setting(lines, "TLSCRLFile");
    tls.server_cert_issuer = setting(lines, "TLSServerCertIssuer");
    tls.server_cert_subject = setting(lines, "TLSServerCertSubject");
    return tls;
  }
  throw ConfigError("TLSConnect=" + mode + " em " + path +
                    " não é um valor conhecido (use unencrypted, psk ou cert)");
}

ZabbixTls get_zabbix_tls() {
  const auto path = zabbix_configuration_file(default_zabbix_server_sources());
  return path ? zabbix_tls_settings(*path) : ZabbixTls{};
}

}  // namespace sonda
