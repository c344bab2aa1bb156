#include "app/zabbix_tls_settings.hpp"

#include <algorithm>
#include <map>

#include "app/small_file.hpp"
#include "core/failure.hpp"

namespace sonda {

namespace {

constexpr std::size_t kMaxIdentity = 128;
constexpr std::size_t kMinPskDigits = 32;
constexpr std::size_t kMaxPskDigits = 512;

constexpr std::string_view kTlsKeys[] = {
    "TLSConnect",  "TLSPSKIdentity", "TLSPSKFile",          "TLSCAFile",           "TLSCRLFile",
    "TLSCertFile", "TLSKeyFile",     "TLSServerCertIssuer", "TLSServerCertSubject"};

bool is_tls_key(std::string_view key) {
  return std::find(std::begin(kTlsKeys), std::end(kTlsKeys), key) != std::end(kTlsKeys);
}

using TlsLines = std::map<std::string, ConfigLine, std::less<>>;

// The TLS lines, by name.
TlsLines tls_lines(const std::vector<ConfigLine>& lines) {
  TlsLines found;
  for (const ConfigLine& line : lines) {
    if (!is_tls_key(line.name)) continue;
    if (!found.emplace(line.name, line).second) {
      throw ConfigError(line.name + " aparece mais de uma vez em " + line.file + " (linha " +
                        std::to_string(line.line) + "); deixe uma só");
    }
  }
  return found;
}

std::string setting(const TlsLines& lines, std::string_view key) {
  const auto found = lines.find(key);
  return found == lines.end() ? std::string() : found->second.value;
}

std::string required(const TlsLines& lines, std::string_view key, const ConfigLine& mode) {
  std::string value = setting(lines, key);
  if (value.empty()) {
    throw ConfigError("TLSConnect=" + mode.value + " em " + mode.place() + " exige " +
                      std::string(key));
  }
  return value;
}

// The key of a PSK file: its first line, of hexadecimal digits only.
std::string read_psk(const ConfigLine& file_line) {
  const std::string& path = file_line.value;
  const std::string file = "arquivo de TLSPSKFile " + path + " (de " + file_line.place() + ")";
  const std::string text = *read_small_file(path, kMaxPskFile, "o " + file);
  const std::string_view key = trimmed(std::string_view(text).substr(0, text.find('\n')));
  const bool hexadecimal = key.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
  if (!hexadecimal || key.size() < kMinPskDigits || key.size() > kMaxPskDigits) {
    throw ConfigError("o PSK do " + file +
                      " deve ter de 32 a 512 dígitos hexadecimais, como os que "
                      "\"openssl rand -hex 32\" gera");
  }
  if (key.size() % 2 != 0) {
    throw ConfigError("o PSK do " + file +
                      " tem um número ímpar de dígitos hexadecimais: cada byte da chave são dois "
                      "dígitos, como os que \"openssl rand -hex 32\" gera");
  }
  return std::string(key);
}

// The files the TLS settings came from, for the advice of a refused handshake.
std::string sources_of(const TlsLines& lines, const std::string& path) {
  std::vector<std::string> files;
  for (const auto& [name, line] : lines) {
    if (std::find(files.begin(), files.end(), line.file) == files.end()) files.push_back(line.file);
  }
  if (files.empty()) return path;
  std::string text;
  for (const std::string& file : files) text += (text.empty() ? "" : " e ") + file;
  return text;
}

}  // namespace

ZabbixTls zabbix_tls_settings(const std::vector<ConfigLine>& all_lines, const std::string& path) {
  const TlsLines lines = tls_lines(all_lines);
  ZabbixTls tls;
  tls.source = sources_of(lines, path);
  const auto connect = lines.find("TLSConnect");
  if (connect == lines.end() || connect->second.value.empty() ||
      connect->second.value == "unencrypted") {
    return tls;
  }
  const ConfigLine& mode = connect->second;

  if (mode.value == "psk") {
    tls.mode = ZabbixTlsMode::psk;
    tls.psk_identity = required(lines, "TLSPSKIdentity", mode);
    if (tls.psk_identity.size() > kMaxIdentity) {
      throw ConfigError("TLSPSKIdentity em " + lines.at("TLSPSKIdentity").place() +
                        " passa de 128 bytes");
    }
    required(lines, "TLSPSKFile", mode);
    tls.psk = read_psk(lines.at("TLSPSKFile"));
    return tls;
  }
  if (mode.value == "cert") {
    tls.mode = ZabbixTlsMode::certificate;
    tls.ca_file = required(lines, "TLSCAFile", mode);
    tls.cert_file = required(lines, "TLSCertFile", mode);
    tls.key_file = required(lines, "TLSKeyFile", mode);
    tls.crl_file = setting(lines, "TLSCRLFile");
    tls.server_cert_issuer = setting(lines, "TLSServerCertIssuer");
    tls.server_cert_subject = setting(lines, "TLSServerCertSubject");
    return tls;
  }
  throw ConfigError("TLSConnect=" + mode.value + " em " + mode.place() +
                    " não é um valor conhecido (use unencrypted, psk ou cert)");
}

}  // namespace sonda
