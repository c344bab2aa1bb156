// Settings from files, through the real binary: the probe's own configuration file and the Zabbix
// agent's, at their default paths (laid over /etc in a mount namespace of the probe's own) or
// named by the environment.
#include <sys/resource.h>

#include <chrono>
#include <ctime>
#include <thread>

#include <gtest/gtest.h>

#include "support/etc_overlay.hpp"
#include "support/fake_server.hpp"
#include "support/fake_zabbix.hpp"
#include "support/process.hpp"
#include "support/questdb.hpp"
#include "support/servers.hpp"
#include "support/temp_dir.hpp"
#include "support/zabbix_api.hpp"
#include "support/zabbix_history.hpp"

extern char** environ;

namespace sonda::test {
namespace {

using namespace std::chrono_literals;

// Options that start the probe as Zabbix's external check does: without any of the probe's
// variables in its environment.
ProcessOptions without_probe_variables() {
  ProcessOptions options;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string text = *variable;
    const std::string name = text.substr(0, text.find('='));
    if (name.starts_with("SONDA_") || name.starts_with("SSL_CERT_"))
      options.env[name] = std::nullopt;
  }
  return options;
}

// Waits up to twenty seconds for the file to hold `text`.
std::string wait_for(const std::filesystem::path& file, const std::string& text) {
  std::string content;
  for (int i = 0; i < 400 && content.find(text) == std::string::npos; ++i) {
    std::this_thread::sleep_for(50ms);
    content = read_file(file);
  }
  return content;
}

// The template's external check runs the probe with the Zabbix server's environment, which the
// operator does not set: batch mode and the log folder come from the configuration file.
TEST(ConfigurationFiles, TemplateStartedRunTakesItsSettingsFromTheDefaultFile) {
  FakeZabbix trapper;
  TempDir logs;
  EtcOverlay etc;
  etc.write("sonda-cobranca/sonda-cobranca.conf",
            "# Grandes provedores\n"
            "SONDA_ZABBIX_SERVER=" +
                trapper.address() +
                "\n"
                "SONDA_ZABBIX_BATCH=1000\n"
                "SONDA_LOG_DIR=" +
                logs.path().string() +
                "\n"
                "SSL_CERT_FILE=" +
                questdb_server().ca + "\n");
  ProcessOptions options = without_probe_variables();
  options.prepare_child = [&] { etc.enter(); };
  RunSettings settings = fixture_settings();
  settings.zabbix_host.assign("sonda-arquivo");
  std::vector<std::string> arguments = full_form_arguments(settings);
  arguments.front() = "launch_discovery_clientes";

  const auto launched = run_probe(arguments, options);
  if (launched.status == kNoNamespaces) GTEST_SKIP() << "this system allows no mount namespace";
  ASSERT_EQ(launched.status, 0) << launched.err;
  EXPECT_EQ(launched.out + launched.err, "");

  const std::string log =
      wait_for(logs.path() / "sonda-cobranca-sonda-arquivo-discovery_clientes.log", "status 0");
  EXPECT_NE(log.find("\nOK\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("Erro"), std::string::npos) << log;  // the CA came from the file too
  // The four totals in one request, the document alone, the 2 × 7 customer values in one.
  EXPECT_EQ(trapper.request_sizes(), (std::vector<std::size_t>{4, 1, 14}));
}

// The agent's own PSK belongs to the agent's host: a run that was not given the file with
// SONDA_ZABBIX_CONFIG speaks clear text, to the address that the agent's files give (here
// through an Include, as Debian's agent keeps its settings).
TEST(ConfigurationFiles, AgentFilesGiveTheAddressButNeverTheirTls) {
  EtcOverlay etc;
  etc.write("zabbix/zabbix_agentd.conf",
            "Server=127.0.0.1\nServerActive=127.0.0.1:1\n"
            "Include=/etc/zabbix/zabbix_agentd.d/*.conf\n");
  etc.write("zabbix/zabbix_agentd.d/ativo.conf",
            "ServerActive=" + zabbix_server().address +
                "\nTLSConnect=psk\nTLSPSKIdentity=agente-do-host\n"
                "TLSPSKFile=/etc/zabbix/agente.psk\n");
  etc.write("zabbix/agente.psk", std::string(64, 'c') + "\n");
  ProcessOptions options = without_probe_variables();
  options.env["SSL_CERT_FILE"] = questdb_server().ca;
  options.prepare_child = [&] { etc.enter(); };
  RunSettings settings = fixture_settings();
  settings.zabbix_host.assign(zabbix_server().host);

  PgSession zabbix("zabbix");
  const std::int64_t start = std::time(nullptr);
  const auto run = run_probe(full_form_arguments(settings), options);
  if (run.status == kNoNamespaces) GTEST_SKIP() << "this system allows no mount namespace";
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "OK\n");
  // A value the host took in clear text, from this run.
  EXPECT_EQ(stored_value(zabbix, zabbix_server().host, "titulos_totais_em_atraso", start), "6");
}

// A limit on the probe's address space far below what reading /dev/zero whole once took.
void limit_memory() {
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer reserves terabytes of address space
  const rlimit limit{256u << 20, 256u << 20};
  ::setrlimit(RLIMIT_AS, &limit);
#endif
}

TEST(ConfigurationFiles, FilesThatCannotBeReadEndTheRunAtOnceNamingThem) {
  TempDir dir;
  const std::string unknown = dir.write("sonda.conf", "SONDA_ZABBIX_BATCH=10\nSONDA_BATCH=10\n");
  const std::pair<std::string, std::string> cases[] = {
      {"SONDA_ZABBIX_CONFIG=/dev/zero",
       "não foi possível ler o arquivo /dev/zero de SONDA_ZABBIX_CONFIG: não é um arquivo comum"},
      {"SONDA_ZABBIX_CONFIG=" + dir.path().string(),
       "não foi possível ler o arquivo " + dir.path().string() +
           " de SONDA_ZABBIX_CONFIG: é uma pasta, não um arquivo"},
      {"SONDA_CONFIG_FILE=" + unknown,
       "nome desconhecido em " + unknown +
           ", linha 2: SONDA_BATCH (os nomes são os das variáveis de ambiente da sonda; veja "
           "sonda-cobranca --help)"},
  };
  // A closed database port: a run that got as far as the database would fail there instead.
  RunSettings settings = fixture_settings();
  settings.db_port.assign(std::to_string(closed_port()));
  for (const auto& [variable, message] : cases) {
    SCOPED_TRACE(variable);
    ProcessOptions options;
    const std::size_t equals = variable.find('=');
    options.env[variable.substr(0, equals)] = variable.substr(equals + 1);
    options.prepare_child = limit_memory;
    const auto result = run_probe(full_form_arguments(settings), options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "sonda-cobranca: erro inesperado: ConfigError: " + message + "\n");
    EXPECT_LT(result.elapsed, 5s);
  }
}

}  // namespace
}  // namespace sonda::test
