// The discovery run in debug mode, through the real binary against the real PostgreSQL.
#include <gtest/gtest.h>

#include "core/version.hpp"
#include "support/fake_server.hpp"
#include "support/fake_zabbix.hpp"
#include "support/process.hpp"
#include "support/servers.hpp"
#include "support/temp_dir.hpp"

namespace sonda::test {
namespace {

const std::string kCyan = "\x1b[1;36m";
const std::string kReset = "\x1b[0;0m";

std::string report_head() {
  return "Modo debug ativado.\n\x1b[0;32m\nVersão do script: " + std::string(VERSION) + kCyan +
         " \n\n" + kCyan +
         "...============================================= Clientes "
         "==============================================...\n" +
         kReset + "\n";
}

std::string report_totals(const std::string& atraso, const std::string& divida,
                          const std::string& aberto, const std::string& valor_aberto) {
  return kCyan +
         "...======================================== Informações Gerais "
         "==========================================...\n" +
         kReset + "\n" + "Títulos totais em atraso:                       " + atraso + "\n" +
         "Valor total em dívida:                          " + divida + "\n" +
         "Títulos dentro do prazo de vencimento:          " + aberto + "\n" +
         "Valor em aberto dentro do prazo de vencimento:  " + valor_aberto + "\n";
}

ProcessResult run_debug(const RunSettings& settings, const FakeZabbix& trapper) {
  ProcessOptions options;
  options.env["SONDA_ZABBIX_SERVER"] = trapper.address();
  // Malformed, and only the runs that send read it: the report must not fail for it.
  options.env["SONDA_DISCOVERY_AMOUNTS"] = "sim";
  return run_probe(full_form_arguments(settings), options);
}

// Settings whose every server but the database is a silent fake, to notice any contact.
RunSettings debug_settings(const std::string& database, const FakeServer& anything) {
  RunSettings settings = fixture_settings(database);
  const std::string port = std::to_string(anything.port());
  for (Setting* setting : {&settings.quest_db_port, &settings.quest_db_port_chat}) {
    setting->assign(port);
  }
  settings.quest_db_ip.assign("127.0.0.1");
  settings.quest_db_ip_chat.assign("127.0.0.1");
  return settings;
}

TEST(DebugMode, ReportOfTheFixtureByteForByteAndNothingSent) {
  FakeZabbix trapper;
  FakeServer questdb(hold_silently);
  const auto result = run_debug(debug_settings(pg_server().database, questdb), trapper);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, read_file(pg_server().fixtures + "/debug_report_pop1.txt"));
  EXPECT_EQ(trapper.connections(), 0);
  EXPECT_EQ(questdb.connections(), 0);
}

TEST(DebugMode, DatabaseWithoutContracts) {
  create_database("cobranca_debug_vazia", {"billing_schema.sql"});
  FakeZabbix trapper;
  FakeServer questdb(hold_silently);
  const auto result = run_debug(debug_settings("cobranca_debug_vazia", questdb), trapper);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, report_head() + report_totals("0", "0", "0", "None"));
}

TEST(DebugMode, DebtsThatAreAllZeroSumToARealZero) {
  create_database("cobranca_debug_zero", {"billing_schema.sql", "billing_fixture.sql"});
  PgSession("cobranca_debug_zero").exec("UPDATE financeiro_titulo SET valor = 0");
  FakeZabbix trapper;
  FakeServer questdb(hold_silently);
  const auto result = run_debug(debug_settings("cobranca_debug_zero", questdb), trapper);
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(result.out.ends_with(report_totals("6", "0.0", "6", "0.0"))) << result.out;
}

TEST(DebugMode, ReportToAFullDeviceEndsWithStatusTwo) {
  FakeZabbix trapper;
  FakeServer questdb(hold_silently);
  ProcessOptions options;
  options.env["SONDA_ZABBIX_SERVER"] = trapper.address();
  options.stdout_path = "/dev/full";
  const auto result =
      run_probe(full_form_arguments(debug_settings(pg_server().database, questdb)), options);
  EXPECT_EQ(result.status, 2);
}

}  // namespace
}  // namespace sonda::test
