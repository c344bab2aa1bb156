// What an operator meets when the Zabbix TLS settings are wrong, through the real binary and
// the real Zabbix 6.0 (a fake only where the real one cannot misbehave: a stalled handshake and
// an expired server certificate).
#include <algorithm>
#include <chrono>

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include "support/fake_server.hpp"
#include "support/fake_zabbix.hpp"
#include "support/process.hpp"
#include "support/servers.hpp"
#include "support/temp_dir.hpp"
#include "support/zabbix_api.hpp"
#include "support/zabbix_tls.hpp"

namespace sonda::test {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kZabbixFailure = "sonda-cobranca: erro inesperado: ZabbixError: ";
constexpr std::string_view kConfigFailure = "sonda-cobranca: erro inesperado: ConfigError: ";

ProcessResult run_with(const std::string& config, const std::string& zabbix_host,
                       const RunSettings& base = fixture_settings(),
                       const std::optional<std::string>& server = std::nullopt) {
  RunSettings settings = base;
  settings.zabbix_host.assign(zabbix_host);
  ProcessOptions options;
  options.env["SONDA_ZABBIX_CONFIG"] = config;
  options.env["SONDA_ZABBIX_SERVER"] = server;
  return run_probe(full_form_arguments(settings), options);
}

struct Case {
  std::string name;
  std::string host;  // or, for settings that fail before any connection, the PSK file's text
  std::string lines;
  std::string expected;
};

// The configuration `lines` with `key` set to `value` instead.
std::string with_setting(std::string lines, const std::string& key, const std::string& value) {
  const auto at = lines.find(key + "=");
  const auto end = lines.find('\n', at);
  return lines.replace(at, end - at, key + "=" + value);
}

TEST(ZabbixTlsFailures, RefusedHandshakesSayWhichSettingToCheck) {
  const ZabbixTlsSetup& tls = zabbix_tls_setup();
  TempDir dir;
  const std::string other_psk =
      dir.write("other.psk", "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\n");
  const std::string psk_advice =
      " (confira TLSPSKIdentity e TLSPSKFile em " + dir.path().string() +
      "/zabbix_agentd.conf: o servidor Zabbix precisa ter esse PSK para essa identidade, e o "
      "host precisa aceitar conexões PSK)";
  const std::string ca_advice =
      " (confira TLSCAFile e TLSCRLFile em " + dir.path().string() +
      "/zabbix_agentd.conf: o certificado do servidor Zabbix deve ser assinado por essa CA, "
      "estar dentro da validade e não estar revogado)";
  const Case cases[] = {
      {"wrong PSK", tls.psk_host, with_setting(psk_lines(), "TLSPSKFile", other_psk),
       "handshake TLS recusado: o servidor encerrou a conexão durante o handshake TLS" +
           psk_advice},
      {"wrong identity", tls.psk_host,
       with_setting(psk_lines(), "TLSPSKIdentity", "outra identidade"),
       "handshake TLS recusado: o servidor encerrou a conexão durante o handshake TLS" +
           psk_advice},
      {"wrong CA", tls.cert_host,
       with_setting(certificate_lines(), "TLSCAFile", tls.file("other-ca.pem")),
       "handshake TLS recusado: unable to get local issuer certificate" + ca_advice},
      {"revoked server certificate", tls.cert_host,
       certificate_lines() + "TLSCRLFile=" + tls.file("crl.pem") + "\n",
       "handshake TLS recusado: certificate revoked" + ca_advice},
      {"other server subject", tls.cert_host,
       with_setting(certificate_lines(), "TLSServerCertSubject", "CN=zabbix,O=outra"),
       "o titular do certificado do servidor Zabbix é \"" + tls.server_subject +
           "\", não \"CN=zabbix,O=outra\" (confira TLSServerCertSubject em " + dir.path().string() +
           "/zabbix_agentd.conf)"},
      {"other server issuer", tls.cert_host,
       with_setting(certificate_lines(), "TLSServerCertIssuer", "CN=outra CA"),
       "o emissor do certificado do servidor Zabbix é \"" + tls.ca_subject +
           "\", não \"CN=outra CA\" (confira TLSServerCertIssuer"},
      // The server refuses a client certificate that has expired only once the handshake is
      // over: the request is then on its way.
      {"client certificate the server refuses", tls.cert_host,
       with_setting(with_setting(certificate_lines(), "TLSCertFile", tls.file("expired.pem")),
                    "TLSKeyFile", tls.file("expired.key")),
       "(confira TLSCertFile e TLSKeyFile em " + dir.path().string() +
           "/zabbix_agentd.conf: o servidor Zabbix precisa aceitar esse certificado, e o host "
           "precisa aceitar conexões com certificado)"},
  };
  const std::string psk = read_file(tls.file("probe.psk")).substr(0, 64);
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const auto result = run_with(agent_configuration(dir, test.lines), test.host);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(result.err.starts_with(std::string(kZabbixFailure) + "servidor Zabbix em " +
                                       zabbix_server().address + ": "))
        << result.err;
    EXPECT_NE(result.err.find(test.expected), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find(psk), std::string::npos);
  }
}

TEST(ZabbixTlsFailures, SettingsThatCannotWorkFailBeforeTheDatabaseAndZabbix) {
  const ZabbixTlsSetup& tls = zabbix_tls_setup();
  FakeZabbix trapper;
  TempDir dir;
  const std::string secret_like = std::string(63, 'a') + "z";  // looks like a key, is not one
  const Case cases[] = {
      {"unknown mode", "", "TLSConnect=tls\n",
       std::string(kConfigFailure) + "TLSConnect=tls em " + dir.path().string() +
           "/zabbix_agentd.conf, linha 3 não é um valor conhecido (use unencrypted, psk ou "
           "cert)"},
      {"no identity", "", "TLSConnect=psk\nTLSPSKFile=" + tls.file("probe.psk") + "\n",
       std::string(kConfigFailure) + "TLSConnect=psk em " + dir.path().string() +
           "/zabbix_agentd.conf, linha 3 exige TLSPSKIdentity"},
      {"missing PSK file", "",
       "TLSConnect=psk\nTLSPSKIdentity=x\nTLSPSKFile=" + dir.path().string() + "/nada.psk\n",
       std::string(kConfigFailure) + "não foi possível ler o arquivo de TLSPSKFile " +
           dir.path().string() + "/nada.psk (de " + dir.path().string() +
           "/zabbix_agentd.conf, linha 5): No such file or directory"},
      {"short PSK", "abcd",
       "TLSConnect=psk\nTLSPSKIdentity=x\nTLSPSKFile=" + dir.path().string() + "/bad.psk\n",
       "deve ter de 32 a 512 dígitos hexadecimais, como os que \"openssl rand -hex 32\" gera"},
      {"PSK that is not hexadecimal", secret_like,
       "TLSConnect=psk\nTLSPSKIdentity=x\nTLSPSKFile=" + dir.path().string() + "/bad.psk\n",
       "deve ter de 32 a 512 dígitos hexadecimais"},
      {"PSK given twice", "", psk_lines() + "TLSPSKIdentity=y\n",
       "TLSPSKIdentity aparece mais de uma vez em " + dir.path().string() +
           "/zabbix_agentd.conf (linha 6); deixe uma só"},
      {"key of another certificate", "",
       with_setting(certificate_lines(), "TLSKeyFile", tls.file("expired.key")),
       std::string(kZabbixFailure) + "configuração TLS do Zabbix em " + dir.path().string() +
           "/zabbix_agentd.conf: não foi possível ler a chave privada de TLSKeyFile " +
           tls.file("expired.key") + ": key values mismatch"},
      {"missing CA file", "",
       "TLSConnect=cert\nTLSCAFile=/nada/ca.pem\nTLSCertFile=" + tls.file("client.pem") +
           "\nTLSKeyFile=" + tls.file("client.key") + "\n",
       "não foi possível ler as CAs de TLSCAFile /nada/ca.pem"},
  };
  // A closed database port: a run that got as far as the database would fail there instead.
  RunSettings settings = fixture_settings();
  settings.db_port.assign(std::to_string(closed_port()));
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    dir.write("bad.psk", test.host + "\n");
    const auto result =
        run_with(agent_configuration(dir, test.lines), "sonda-teste", settings, trapper.address());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find(test.expected), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    if (!test.host.empty()) {
      EXPECT_EQ(result.err.find(test.host), std::string::npos);  // the key never shows
    }
  }
  const auto unreadable = run_with(dir.path().string() + "/nada.conf", "sonda-teste", settings);
  EXPECT_EQ(unreadable.err, std::string(kConfigFailure) + "não foi possível ler o arquivo " +
                                dir.path().string() +
                                "/nada.conf de SONDA_ZABBIX_CONFIG: No such file or directory\n");
  EXPECT_EQ(trapper.connections(), 0);
}

TEST(ZabbixTlsFailures, StalledHandshakeEndsAtTheRunsLimit) {
  FakeServer silent(hold_silently);
  TempDir dir;
  RunSettings settings = fixture_settings();
  settings.zabbix_host.assign("sonda-psk");
  ProcessOptions options;
  options.env["SONDA_ZABBIX_CONFIG"] = agent_configuration(dir, psk_lines());
  options.env["SONDA_ZABBIX_SERVER"] = "127.0.0.1:" + std::to_string(silent.port());
  options.env["SONDA_TEST_RUNTIME_LIMIT"] = "2";
  const auto result = run_probe(full_form_arguments(settings), options);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "Tempo limite de execução excedido: a execução passou de 2 segundos e foi "
            "interrompida.\n");
  EXPECT_EQ(result.err, "");
  // At the limit, not by the backstop two seconds later (room left for a loaded machine).
  EXPECT_LT(result.elapsed, 3500ms);
  EXPECT_EQ(silent.connections(), 1);
}

// A TLS server on loopback that presents `certificate` and then closes.
void present_certificate(int fd, const std::string& certificate, const std::string& key) {
  const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_server_method()),
                                                                  &SSL_CTX_free);
  SSL_CTX_use_certificate_file(context.get(), certificate.c_str(), SSL_FILETYPE_PEM);
  SSL_CTX_use_PrivateKey_file(context.get(), key.c_str(), SSL_FILETYPE_PEM);
  const std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(context.get()), &SSL_free);
  SSL_set_fd(ssl.get(), fd);
  (void)SSL_accept(ssl.get());
}

TEST(ZabbixTlsFailures, ExpiredServerCertificateIsRefused) {
  const ZabbixTlsSetup& tls = zabbix_tls_setup();
  FakeServer expired([&](int fd, const std::atomic<bool>&) {
    present_certificate(fd, tls.file("expired.pem"), tls.file("expired.key"));
  });
  TempDir dir;
  const auto result = run_with(agent_configuration(dir, certificate_lines()), "sonda-cert",
                               fixture_settings(), "127.0.0.1:" + std::to_string(expired.port()));
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("handshake TLS recusado: certificate has expired (confira TLSCAFile e "
                            "TLSCRLFile em "),
            std::string::npos)
      << result.err;
}

}  // namespace
}  // namespace sonda::test
