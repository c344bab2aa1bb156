#include "app/zabbix_server.hpp"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"

namespace sonda {
namespace {

using test::TempDir;

ConfigLine variable(const std::string& name, const std::string& value) {
  return {name, value, "", 0};
}

// The first node of the first destination, as host:port.
std::string first_server(const ZabbixServerSources& sources) {
  return zabbix_settings_from(sources, true).destinations.at(0).nodes.at(0).text();
}

std::string config_failure(const ZabbixServerSources& sources) {
  try {
    zabbix_settings_from(sources, true);
  } catch (const ConfigError& error) {
    return error.what();
  }
  return "(no failure)";
}

TEST(ZabbixServer, EnvironmentComesFirst) {
  TempDir dir;
  const auto conf = dir.write("agentd.conf", "ServerActive=10.1.1.1\n");
  EXPECT_EQ(first_server({variable("SONDA_ZABBIX_SERVER", "zbx:10060"), {conf}}), "zbx:10060");
  EXPECT_EQ(config_failure({variable("SONDA_ZABBIX_SERVER", "zbx:porta"), {conf}}),
            "endereço do servidor Zabbix inválido na variável SONDA_ZABBIX_SERVER: \"zbx:porta\" "
            "(use host ou host:porta)");
  // From the probe's own configuration file, the message says where.
  EXPECT_EQ(config_failure({ConfigLine{"SONDA_ZABBIX_SERVER", "zbx:", "/etc/s.conf", 4}, {conf}}),
            "endereço do servidor Zabbix inválido em /etc/s.conf, linha 4 (SONDA_ZABBIX_SERVER): "
            "\"zbx:\" (use host ou host:porta)");
}

TEST(ZabbixServer, LastServerActiveOfTheFirstAgentConfigurationThatHasOne) {
  TempDir dir;
  const auto without =
      dir.write("a.conf", "# ServerActive=1.1.1.1\nServer=2.2.2.2\nServerActive=\n");
  const auto with = dir.write("b.conf",
                              "LogFile=/tmp/x\nServerActive=ignored\n"
                              "  ServerActive = zbx1:10055;zbx2 , zbx3\n");
  const auto settings =
      zabbix_settings_from({std::nullopt, {dir.path() / "missing.conf", without, with}}, true);
  ASSERT_EQ(settings.destinations.size(), 2u);
  EXPECT_EQ(settings.destinations[0].nodes.size(), 2u);
  EXPECT_EQ(settings.destinations[0].nodes[0].text(), "zbx1:10055");
  EXPECT_EQ(settings.source, "ServerActive em " + with + ", linha 3");
  EXPECT_EQ(settings.batch, 1u);
  EXPECT_EQ(settings.tls.mode, ZabbixTlsMode::unencrypted);
}

TEST(ZabbixServer, FallsBackToTheLocalServer) {
  EXPECT_EQ(first_server({std::nullopt, {"/nonexistent/zabbix_agentd.conf"}}), "127.0.0.1:10051");
}

TEST(ZabbixServer, MalformedServerActiveNamesFileAndLine) {
  TempDir dir;
  const auto conf = dir.write("agentd.conf", "\n\nServerActive=zbx:abc\n");
  EXPECT_NE(config_failure({std::nullopt, {conf}}).find(conf + ", linha 3"), std::string::npos);
}

// As zabbix_sender -c: TLS only from the file named by SONDA_ZABBIX_CONFIG, never from the
// agent's own files, whose PSK may belong to another host; they still give the address.
TEST(ZabbixServer, TlsSettingsComeOnlyFromTheNamedFile) {
  TempDir dir;
  const std::string psk = dir.write("key.psk", std::string(64, 'a') + "\n");
  const auto agent = dir.write(
      "agentd.conf",
      "ServerActive=zbx2\nTLSConnect=psk\nTLSPSKIdentity=agente\nTLSPSKFile=" + psk + "\n");
  const auto named = dir.write(
      "named.conf",
      "ServerActive=zbx3:10060\nTLSConnect=psk\nTLSPSKIdentity=sonda\nTLSPSKFile=" + psk + "\n");
  const auto plain = dir.write("plain.conf", "Hostname=x\n");

  const ZabbixSettings from_agent = zabbix_settings_from({std::nullopt, {agent}}, true);
  EXPECT_EQ(from_agent.destinations[0].nodes[0].text(), "zbx2:10051");
  EXPECT_EQ(from_agent.tls.mode, ZabbixTlsMode::unencrypted);

  // A named file replaces the agent configurations, also when the address comes from the
  // environment; without ServerActive it leaves the local server.
  const ZabbixSettings from_named =
      zabbix_settings_from({std::nullopt, {agent}, variable("SONDA_ZABBIX_CONFIG", named)}, true);
  EXPECT_EQ(from_named.destinations[0].nodes[0].text(), "zbx3:10060");
  EXPECT_EQ(from_named.tls.mode, ZabbixTlsMode::psk);
  EXPECT_EQ(from_named.tls.psk_identity, "sonda");
  EXPECT_EQ(from_named.tls.source, named);
  EXPECT_EQ(first_server({variable("S", "zbx9"), {agent}, variable("SONDA_ZABBIX_CONFIG", named)}),
            "zbx9:10051");
  EXPECT_EQ(first_server({std::nullopt, {agent}, variable("SONDA_ZABBIX_CONFIG", plain)}),
            "127.0.0.1:10051");
  // The debug report needs no TLS.
  EXPECT_EQ(
      zabbix_settings_from({std::nullopt, {agent}, variable("SONDA_ZABBIX_CONFIG", named)}, false)
          .tls.mode,
      ZabbixTlsMode::unencrypted);

  // An address from the environment does not make a malformed ServerActive fatal.
  const auto malformed = dir.write("malformed.conf", "ServerActive=zbx:abc\n");
  EXPECT_EQ(first_server({variable("S", "zbx9"), {}, variable("SONDA_ZABBIX_CONFIG", malformed)}),
            "zbx9:10051");

  const std::string missing = dir.path() / "missing.conf";
  EXPECT_EQ(config_failure({std::nullopt, {agent}, variable("SONDA_ZABBIX_CONFIG", missing)}),
            "não foi possível ler o arquivo " + missing +
                " de SONDA_ZABBIX_CONFIG: No such file or directory");
}

// What can stop a run reading the named agent file: it ends at once, with little memory.
TEST(ZabbixServer, NamedFileThatIsNoSmallRegularFileIsAConfigError) {
  TempDir dir;
  const std::string big = dir.write("big.conf", std::string(1024 * 1024 + 1, '#'));
  const std::pair<std::string, std::string> cases[] = {
      {dir.path().string(), "é uma pasta, não um arquivo"},
      {"/dev/zero", "não é um arquivo comum"},
      {big, "passa de 1 MiB"},
  };
  for (const auto& [path, why] : cases) {
    EXPECT_EQ(config_failure({std::nullopt, {}, variable("SONDA_ZABBIX_CONFIG", path)}),
              "não foi possível ler o arquivo " + path + " de SONDA_ZABBIX_CONFIG: " + why);
  }
}

TEST(ZabbixServer, ServerActiveAndTlsFromIncludedFiles) {
  TempDir dir;
  const std::string psk = dir.write("key.psk", std::string(64, 'b') + "\n");
  std::filesystem::create_directories(dir.path() / "agentd.d" / "sub");
  dir.write("agentd.d/10-server.conf", "ServerActive=zbx-incluido\n");
  dir.write("agentd.d/20-tls.conf", "TLSConnect=psk\nTLSPSKIdentity=sonda\n");
  dir.write("agentd.d/ignored.txt", "ServerActive=nao-conf\n");
  dir.write("agentd.d/sub/psk.conf", "TLSPSKFile=" + psk + "\n");
  const auto named = dir.write("agentd.conf",
                               "ServerActive=zbx-principal\n"
                               "Include=agentd.d/*.conf\n"
                               "Include=" +
                                   (dir.path() / "agentd.d" / "sub").string() + "/\n");
  const ZabbixSettings settings =
      zabbix_settings_from({std::nullopt, {}, variable("SONDA_ZABBIX_CONFIG", named)}, true);
  EXPECT_EQ(settings.destinations[0].nodes[0].text(), "zbx-incluido:10051");
  EXPECT_EQ(settings.source,
            "ServerActive em " + (dir.path() / "agentd.d/10-server.conf").string() + ", linha 1");
  EXPECT_EQ(settings.tls.mode, ZabbixTlsMode::psk);
  EXPECT_EQ(settings.tls.psk, std::string(64, 'b'));
  EXPECT_EQ(settings.tls.source, (dir.path() / "agentd.d/20-tls.conf").string() + " e " +
                                     (dir.path() / "agentd.d/sub/psk.conf").string());

  // A message about an included setting names its own file and line.
  dir.write("agentd.d/30-bad.conf", "\nTLSConnect=talvez\n");
  EXPECT_EQ(config_failure({std::nullopt, {}, variable("SONDA_ZABBIX_CONFIG", named)}),
            "TLSConnect aparece mais de uma vez em " +
                (dir.path() / "agentd.d/30-bad.conf").string() + " (linha 2); deixe uma só");
}

TEST(ZabbixServer, BrokenIncludesAreConfigErrors) {
  TempDir dir;
  const auto loop = dir.write("loop.conf", "Include=loop.conf\n");
  EXPECT_NE(config_failure({std::nullopt, {loop}}).find("mais de 10 níveis"), std::string::npos);
  const auto missing = dir.write("missing.conf", "Include=/nada/zabbix.conf\n");
  EXPECT_EQ(config_failure({std::nullopt, {missing}}),
            "Include=/nada/zabbix.conf em " + missing +
                ", linha 1: /nada/zabbix.conf: No such file or directory");
  const auto deep_star = dir.write("star.conf", "Include=/etc/*/zabbix.conf\n");
  EXPECT_NE(config_failure({std::nullopt, {deep_star}}).find("última parte do caminho"),
            std::string::npos);
  // A glob that matches nothing brings nothing, as for the agent.
  const auto none =
      dir.write("none.conf", "ServerActive=zbx5\nInclude=" + dir.path().string() + "/*.nada\n");
  EXPECT_EQ(first_server({std::nullopt, {none}}), "zbx5:10051");
}

TEST(ZabbixServer, PskFileFaultsHaveTheirOwnMessages) {
  TempDir dir;
  const auto with_key = [&](const std::string& key) {
    const std::string psk = dir.write("key.psk", key);
    return dir.write("agentd.conf",
                     "TLSConnect=psk\nTLSPSKIdentity=sonda\nTLSPSKFile=" + psk + "\n");
  };
  const std::string place = dir.path().string() + "/agentd.conf, linha 3";
  const std::string psk = dir.path().string() + "/key.psk";
  EXPECT_EQ(
      config_failure({variable("S", "zbx"), {}, variable("C", with_key(std::string(63, 'a')))}),
      "o PSK do arquivo de TLSPSKFile " + psk + " (de " + place +
          ") tem um número ímpar de dígitos hexadecimais: cada byte da chave são dois "
          "dígitos, como os que \"openssl rand -hex 32\" gera");
  EXPECT_EQ(config_failure({variable("S", "zbx"), {}, variable("C", with_key("abc\n"))}),
            "o PSK do arquivo de TLSPSKFile " + psk + " (de " + place +
                ") deve ter de 32 a 512 dígitos hexadecimais, como os que \"openssl rand -hex "
                "32\" gera");
  // A key file of a gibibyte is refused before it is read.
  {
    std::ofstream sparse(psk, std::ios::binary | std::ios::trunc);
    sparse.seekp(1024 * 1024 * 1024);
    sparse << 'a';
  }
  dir.write("agentd.conf", "TLSConnect=psk\nTLSPSKIdentity=sonda\nTLSPSKFile=" + psk + "\n");
  EXPECT_EQ(config_failure({variable("S", "zbx"), {}, variable("C", dir.path() / "agentd.conf")}),
            "não foi possível ler o arquivo de TLSPSKFile " + psk + " (de " + place +
                "): passa de 64 KiB");
}

}  // namespace
}  // namespace sonda
