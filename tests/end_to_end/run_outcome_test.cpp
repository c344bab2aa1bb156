// The outcome of every run in Zabbix, as an operator sees it: the template imported through the
// API of the real Zabbix 6.0 and linked to a host; background and direct runs that end each way
// a run can end; the figures of the item sonda_execucao and the triggers they fire and resolve,
// read through the API; and the template's dashboard, in a real browser.
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>

#include <gtest/gtest.h>

#include "support/browser.hpp"
#include "support/fake_server.hpp"
#include "support/process.hpp"
#include "support/questdb.hpp"
#include "support/servers.hpp"
#include "support/temp_dir.hpp"
#include "support/zabbix_api.hpp"
#include "support/zabbix_template.hpp"
#include "support/zabbix_tls.hpp"

namespace sonda::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const std::string kFailed = "Sonda de cobrança: a última execução não terminou bem";
const std::string kLong = "Sonda de cobrança: a execução levou ";
const std::string kRowsNotWritten = "Sonda de cobrança: linhas não gravadas no QuestDB";
const std::string kRefusedFixed = "Sonda de cobrança: o Zabbix recusou ";
const std::string kRefusedTwice =
    "Sonda de cobrança: o Zabbix recusou valores por cliente em duas execuções seguidas";

std::int64_t now_seconds() { return std::time(nullptr); }

// The host's open problems about the probe itself (not those of its customers).
std::vector<std::string> probe_problems(ZabbixApi& api, const std::string& host_id) {
  std::vector<std::string> names = open_problems(api, host_id);
  std::erase_if(names,
                [](const std::string& name) { return !name.starts_with("Sonda de cobrança"); });
  return names;
}

// A host linked to the template, and the runs that report to it.
class OutcomeHost {
 public:
  explicit OutcomeHost(const std::string& name, const json& macros = json::array())
      : name_(name), host_(create_template_host(api_, name, import_sonda_template(api_), macros)) {}

  ZabbixApi& api() { return api_; }
  const std::string& name() const { return name_; }
  const std::string& id() const { return host_.id(); }
  const std::filesystem::path& logs() const { return logs_.path(); }

  // Until the server has the whole host.
  void wait_until_known() { wait_until_server_has_host(api_, host_.id(), name_); }

  // Enables or disables the host's discovery rule, and waits until the server sees it.
  void enable_discovery(bool enabled) { enable_discovery_rule(api_, host_.id(), name_, enabled); }

  // The seventeen settings of a discovery run for this host against the test servers, changed
  // by `change`.
  std::vector<std::string> arguments(const std::string& mode,
                                     const std::function<void(RunSettings&)>& change = {}) const {
    RunSettings settings = fixture_settings();
    settings.mode = mode;
    settings.zabbix_host.assign(name_);
    if (change) change(settings);
    return full_form_arguments(settings);
  }

  ProcessOptions options() const {
    ProcessOptions options;
    options.env["SONDA_ZABBIX_SERVER"] = zabbix_server().address;
    options.env["SONDA_ZABBIX_CONFIG"] = std::nullopt;
    options.env["SONDA_SEND_OUTCOME"] = std::nullopt;
    options.env["SONDA_TEST_RUNTIME_LIMIT"] = std::nullopt;
    options.env["SSL_CERT_FILE"] = questdb_server().ca;
    options.env["SONDA_LOG_DIR"] = logs_.path().string();
    return options;
  }

  std::filesystem::path log() const {
    return logs_.path() / ("sonda-cobranca-" + name_ + "-discovery_clientes.log");
  }

  // Starts a background run (launch_discovery_clientes) with `options`.
  void launch(const ProcessOptions& options,
              const std::function<void(RunSettings&)>& change = {}) const {
    const ProcessResult launched =
        run_probe(arguments("launch_discovery_clientes", change), options);
    ASSERT_EQ(launched.status, 0) << launched.err;
    ASSERT_EQ(launched.out, "");
  }

  // The log of the background run, once its last line is there.
  std::string ended_log() const {
    std::string log;
    eventually(
        [&] { return (log = read_file(this->log())).find(" fim de ") != std::string::npos; });
    return log;
  }

  // The host's outcome number `n` (from 1), once it has arrived; there must be no other.
  json outcome(std::size_t n) {
    std::vector<std::string> values;
    eventually([&] {
      values = item_history(api_, host_.id(), "sonda_execucao");
      return values.size() >= n;
    });
    EXPECT_EQ(values.size(), n) << "outcomes of " << name_;
    if (values.size() < n) return json::object();
    const std::string& value = values[values.size() - n];
    // Shown in the test's output: what each case sends, byte for byte.
    std::cout << "sonda_execucao de " << name_ << " (" << n << "): " << value << std::endl;
    return json::parse(value);
  }

  bool problem_opens(const std::string& prefix) {
    return eventually([&] { return open_problem(api_, host_.id(), prefix).has_value(); }, 30s);
  }
  bool problem_resolves(const std::string& prefix) {
    return eventually([&] { return !open_problem(api_, host_.id(), prefix).has_value(); }, 30s);
  }
  std::string opdata(const std::string& prefix) {
    const auto problem = open_problem(api_, host_.id(), prefix);
    return problem ? problem->at("opdata").get<std::string>() : "";
  }

  // Makes the host take values only over TLS with the test PSK, and waits until the server
  // refuses the unencrypted value `value` of `key`.
  void take_only_psk(const std::string& key, const std::string& value) {
    const ZabbixTlsSetup& tls = zabbix_tls_setup();
    api_.call("host.update", {{"hostid", host_.id()},
                              {"tls_accept", 2},
                              {"tls_psk_identity", tls.psk_identity},
                              {"tls_psk", read_file(tls.file("probe.psk")).substr(0, 64)}});
    psk_only_ = true;
    reload_zabbix_configuration(zabbix_server(), name_, key, value, false);
  }

  // Waits until discovery has made the items of the fixture's customers and the server takes
  // their values. The tests' own unencrypted value that tells it is let in for that moment.
  void wait_for_customer_items() {
    const bool made = eventually([&] {
      const json items =
          api_.call("item.get",
                    {{"hostids", {host_.id()}}, {"filter", {{"flags", 4}}}, {"countOutput", true}});
      return items.get<std::string>() == "10";
    });
    ASSERT_TRUE(made);
    if (psk_only_) api_.call("host.update", {{"hostid", host_.id()}, {"tls_accept", 3}});
    reload_zabbix_configuration(zabbix_server(), name_, "titulos_em_atraso[5]");
    if (psk_only_) take_only_psk("titulos_em_atraso[5]", "0");
  }

 private:
  ZabbixApi api_;
  std::string name_;
  TemplateHost host_;
  TempDir logs_;
  bool psk_only_ = false;
};

// The pid of the run that the log's first line names.
pid_t started_pid(const std::string& log) {
  const std::size_t start = log.find("início de ");
  const std::size_t pid = log.find("(pid ", start);
  if (start == std::string::npos || pid == std::string::npos) return 0;
  return std::atoi(log.c_str() + pid + 5);
}

// When and how long: the run started after `since` and took what a run of that kind takes.
void expect_times(const json& outcome, std::int64_t since, double at_least, double below) {
  EXPECT_GE(outcome.at("inicio").get<std::int64_t>(), since);
  EXPECT_LE(outcome.at("inicio").get<std::int64_t>(), now_seconds());
  EXPECT_GE(outcome.at("duracao").get<double>(), at_least);
  EXPECT_LT(outcome.at("duracao").get<double>(), below);
}

// The fixture's contract whose customer is gone has its two values (valor_divida[None] and
// titulos_em_atraso[None]) refused on every run, as the template's macro says.
const json kOrphanContract = host_macro("{$SONDA.RECUSADOS.CLIENTE.MAX}", "2");

const json kAllWritten = {{"bekClientes", {{"gravadas", 7}, {"nao_gravadas", 0}}},
                          {"bekCobranca", {{"gravadas", 7}, {"nao_gravadas", 0}}}};

// Every way a background run ends reaches its Zabbix host through the process that waited for
// it, over the TLS of the run (the host takes nothing but PSK), and fires the trigger that
// names it; the next good run resolves it. Midway, the dashboard in a browser.
TEST(RunOutcome, EveryWayABackgroundRunEndsFiresItsTriggerAndTheNextGoodRunResolvesIt) {
  OutcomeHost host("sonda-execucoes",
                   json::array({host_macro("{$SONDA.DURACAO.MAX}", "5"), kOrphanContract}));
  host.wait_until_known();
  host.take_only_psk("discovery_clientes", R"({"data": []})");
  TempDir agent;
  ProcessOptions options = host.options();
  options.env["SONDA_ZABBIX_SERVER"] = std::nullopt;
  options.env["SONDA_ZABBIX_CONFIG"] = agent_configuration(agent, psk_lines());
  const std::int64_t since = now_seconds();

  // A good first run: the customers' items do not exist yet, so Zabbix refuses their values.
  host.launch(options);
  EXPECT_NE(host.ended_log().find(": status 0\n"), std::string::npos) << host.ended_log();
  const json first = host.outcome(1);
  EXPECT_EQ(first.at("situacao"), 0);
  EXPECT_EQ(first.at("status"), 0);
  EXPECT_EQ(first.at("clientes"), 7);
  EXPECT_EQ(first.at("zabbix"), json({{"recusados_fixos", 0}, {"recusados_por_cliente", 14}}));
  EXPECT_EQ(first.at("questdb"), kAllWritten);
  EXPECT_EQ(first.at("erro"), "");
  EXPECT_FALSE(first.contains("sinal"));
  expect_times(first, since, 0, 5);
  host.wait_for_customer_items();
  EXPECT_EQ(probe_problems(host.api(), host.id()), std::vector<std::string>{});

  // A database that never answers, and a limit of 6 seconds: the time limit, and a long run.
  {
    FakeServer silent(hold_silently);
    ProcessOptions limited = options;
    limited.env["SONDA_TEST_RUNTIME_LIMIT"] = "6";
    host.launch(limited, [&](RunSettings& settings) {
      settings.db_port.assign(std::to_string(silent.port()));
    });
    EXPECT_NE(host.ended_log().find(": status 0\n"), std::string::npos) << host.ended_log();
  }
  const json timed_out = host.outcome(2);
  EXPECT_EQ(timed_out.at("situacao"), 2);
  EXPECT_EQ(timed_out.at("status"), 0);
  EXPECT_EQ(timed_out.at("erro"),
            "Tempo limite de execução excedido: a execução passou de 6 segundos e foi "
            "interrompida.");
  // It read no customer and sent nothing: those figures are not known, not zero.
  EXPECT_FALSE(timed_out.contains("clientes"));
  EXPECT_FALSE(timed_out.contains("zabbix"));
  EXPECT_FALSE(timed_out.contains("questdb"));
  expect_times(timed_out, since, 6, 15);
  EXPECT_TRUE(host.problem_opens(kFailed + " (tempo limite excedido (2))"));
  EXPECT_EQ(host.opdata(kFailed), timed_out.at("erro"));
  EXPECT_TRUE(host.problem_opens(kLong));

  // The QuestDB of bekCobranca unreachable: a completed run, which resolves the failure, but
  // with rows not written (and long again, with the QuestDB client's retries).
  const int closed = closed_port();
  host.launch(options, [&](RunSettings& settings) {
    settings.quest_db_port_chat.assign(std::to_string(closed));
  });
  EXPECT_NE(host.ended_log().find(": status 0\n"), std::string::npos) << host.ended_log();
  const json unwritten = host.outcome(3);
  EXPECT_EQ(unwritten.at("situacao"), 0);
  EXPECT_EQ(unwritten.at("clientes"), 7);
  EXPECT_EQ(unwritten.at("zabbix"), json({{"recusados_fixos", 0}, {"recusados_por_cliente", 2}}));
  EXPECT_EQ(unwritten.at("questdb"),
            json({{"bekClientes", {{"gravadas", 7}, {"nao_gravadas", 0}}},
                  {"bekCobranca", {{"gravadas", 0}, {"nao_gravadas", 7}}}}));
  const std::string questdb_error = unwritten.at("erro");
  EXPECT_TRUE(questdb_error.starts_with(
      "Erro: bekCobranca: 7 de 7 linhas não gravadas (0 gravadas): não foi possível enviar ao "
      "QuestDB em 127.0.0.1:" +
      std::to_string(closed) + ": "))
      << questdb_error;
  EXPECT_TRUE(host.problem_opens(kRowsNotWritten + " (bekClientes: 0, bekCobranca: 7)"));
  EXPECT_EQ(host.opdata(kRowsNotWritten), questdb_error);
  EXPECT_TRUE(host.problem_resolves(kFailed));

  // A good run resolves the rest.
  host.launch(options);
  EXPECT_EQ(host.outcome(4).at("questdb"), kAllWritten);
  EXPECT_TRUE(host.problem_resolves(kRowsNotWritten));
  EXPECT_TRUE(host.problem_resolves(kLong));
  EXPECT_EQ(probe_problems(host.api(), host.id()), std::vector<std::string>{});

  // Killed without a word while it waits on the database.
  {
    FakeServer silent(hold_silently);
    ProcessOptions waiting = options;
    waiting.env["SONDA_TEST_RUNTIME_LIMIT"] = "60";
    host.launch(waiting, [&](RunSettings& settings) {
      settings.db_port.assign(std::to_string(silent.port()));
    });
    ASSERT_TRUE(eventually([&] { return silent.connections() > 0; }, 30s));
    const pid_t run = started_pid(read_file(host.log()));
    ASSERT_GT(run, 0) << read_file(host.log());
    ASSERT_EQ(::kill(run, SIGKILL), 0);
    EXPECT_NE(host.ended_log().find(": encerrada pelo sinal 9\n"), std::string::npos)
        << host.ended_log();
  }
  const json killed = host.outcome(5);
  EXPECT_EQ(killed.at("situacao"), 3);
  EXPECT_EQ(killed.at("sinal"), 9);
  EXPECT_FALSE(killed.contains("status"));
  EXPECT_EQ(killed.at("erro"), "a execução foi encerrada pelo sinal 9 (SIGKILL)");
  EXPECT_TRUE(host.problem_opens(kFailed + " (encerrada por um sinal (3))"));
  EXPECT_EQ(host.opdata(kFailed), "a execução foi encerrada pelo sinal 9 (SIGKILL)");

  // The dashboard of the host, with a problem open: its graphs show the runs so far.
  for (const std::string key : {"titulos_totais_em_atraso", "valor_total_divida",
                                "titulos_totais_em_aberto", "valor_total_em_aberto"}) {
    EXPECT_GE(item_history(host.api(), host.id(), key).size(), 3u) << key;
  }
  EXPECT_EQ(item_history(host.api(), host.id(), "sonda_execucao[duracao]").size(), 5u);
  EXPECT_EQ(item_history(host.api(), host.id(), "sonda_execucao[clientes]").size(), 3u);
  const json dashboards = host.api().call(
      "templatedashboard.get",
      {{"templateids", {import_sonda_template(host.api())}}, {"output", {"dashboardid", "name"}}});
  ASSERT_EQ(dashboards.size(), 1u);
  EXPECT_EQ(dashboards[0].at("name"), "Sonda de cobrança");
  const std::string png = std::string(SONDA_BINARY_DIR) + "/painel-sonda-cobranca.png";
  const Screenshot shot = screenshot_frontend_page(
      frontend_user(host.api(), "sonda-painel", "pt_BR"),
      "zabbix.php?action=host.dashboard.view&hostid=" + host.id() + "&dashboardid=" +
          dashboards[0].at("dashboardid").get<std::string>() + "&from=now-2m&to=now",
      png, 1600, 1000);
  ASSERT_TRUE(shot.taken) << shot.log;
  EXPECT_EQ(shot.width, 1600);
  EXPECT_EQ(shot.height, 1000);
  std::cout << "painel: " << png << std::endl;

  // And a good run after the killed one resolves it.
  host.launch(options);
  EXPECT_EQ(host.outcome(6).at("situacao"), 0);
  EXPECT_TRUE(host.problem_resolves(kFailed));
  EXPECT_EQ(probe_problems(host.api(), host.id()), std::vector<std::string>{});
}

// A direct run (cron) sends its outcome only when SONDA_SEND_OUTCOME asks for it, and then
// prints nothing more. With the host's discovery rule disabled, Zabbix refuses the document
// and every per-customer value: each trigger fires when it should, and resolves.
TEST(RunOutcome, DirectRunsReportWhenAskedAndRefusedValuesFireTheirTriggers) {
  OutcomeHost host("sonda-recusas", json::array({kOrphanContract}));
  host.wait_until_known();
  host.enable_discovery(false);
  const auto outcome = [&](std::size_t n) { return host.outcome(n); };

  ProcessOptions options = host.options();
  const auto run = [&](const std::optional<std::string>& asked) {
    ProcessOptions asking = options;
    asking.env["SONDA_SEND_OUTCOME"] = asked;
    return run_probe(host.arguments("discovery_clientes"), asking);
  };
  const ProcessResult malformed = run("sim");
  EXPECT_EQ(malformed.status, 1);
  EXPECT_EQ(malformed.out, "");
  EXPECT_NE(malformed.err.find("ConfigError: SONDA_SEND_OUTCOME deve ser 1"), std::string::npos)
      << malformed.err;
  const ProcessResult quiet = run(std::nullopt);
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out, "OK\n");

  const ProcessResult first = run("1");
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.out, "OK\n");
  EXPECT_EQ(first.err, quiet.err);  // the two refused-value notices, and nothing about the outcome
  const json once = outcome(1);     // and only this one: the runs before sent none
  EXPECT_EQ(once.at("situacao"), 0);
  EXPECT_EQ(once.at("zabbix"), json({{"recusados_fixos", 1}, {"recusados_por_cliente", 14}}));
  EXPECT_EQ(once.at("questdb"), kAllWritten);
  EXPECT_TRUE(host.problem_opens(kRefusedFixed + "1 dos totais ou o documento de descoberta"));
  // Refused per-customer values once are expected (the first run of a host).
  EXPECT_FALSE(open_problem(host.api(), host.id(), kRefusedTwice).has_value());

  EXPECT_EQ(run("1").status, 0);
  EXPECT_EQ(outcome(2).at("zabbix"), json({{"recusados_fixos", 1}, {"recusados_por_cliente", 14}}));
  EXPECT_TRUE(host.problem_opens(kRefusedTwice));
  EXPECT_EQ(host.opdata(kRefusedTwice), "Recusados na última: 14");

  // The rule enabled again: the document is taken, the customers' items come after it.
  host.enable_discovery(true);
  EXPECT_EQ(run("1").status, 0);
  EXPECT_EQ(outcome(3).at("zabbix"), json({{"recusados_fixos", 0}, {"recusados_por_cliente", 14}}));
  EXPECT_TRUE(host.problem_resolves(kRefusedFixed + "1 "));
  host.wait_for_customer_items();
  EXPECT_EQ(run("1").status, 0);
  EXPECT_EQ(outcome(4).at("zabbix"), json({{"recusados_fixos", 0}, {"recusados_por_cliente", 2}}));
  EXPECT_TRUE(host.problem_resolves(kRefusedTwice));
}

}  // namespace
}  // namespace sonda::test
