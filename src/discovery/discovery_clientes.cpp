#include "discovery/discovery_clientes.hpp"

#include <algorithm>

#include "console/line_output.hpp"
#include "discovery/billing_query.hpp"
#include "discovery/customer_entries.hpp"
#include "discovery/debug_report.hpp"
#include "discovery/delivery.hpp"
#include "discovery/phase_times.hpp"
#include "discovery/run_figures.hpp"
#include "outside/process/runtime_limit.hpp"
#include "outside/zabbix/zabbix_sender.hpp"
#include "timeseries/snapshot_writers.hpp"
#include "timeseries/snapshot_zone.hpp"

namespace sonda {

namespace {

// What a writer did, for the run's outcome: its rows, and its error line as the run's first
// when it is.
void record_writer(const TableWriteReport& report) {
  const std::size_t written = std::min(report.written, report.total);
  run_figures::record_table(report.table, written, report.total - written);
  if (auto line = error_line(report)) run_figures::record_error_line(*line);
}

}  // namespace

int discovery_clientes(const DiscoverySettings& settings, const ZabbixSettings& zabbix_server) {
  const std::string& zabbix_host = settings.zabbix_host;
  // TLS settings that cannot work fail the run here, before the database is read and anything
  // is sent; the debug report sends nothing and needs none.
  std::optional<ZabbixSender> sender;
  if (zabbix_host != "debug") sender.emplace(zabbix_server);
  PhaseTimes phases(settings.phase_times_file);
  BillingData data = read_billing_data(settings.database, settings.pop_id);
  phases.mark("database");
  run_figures::record_customers(data.clientes_data.size());
  // Each reader sees the rows as entries of its own shape, made as it reads them: the rows,
  // with their texts in data.texts, are the run's one copy of the customers.
  const CustomerEntries entries = build_customer_entries(data, zabbix_host);
  phases.mark("building");
  run_deadline::check();

  if (zabbix_host == "debug") {
    print_debug_report(entries);
    phases.mark("report");
  } else {
    run_figures::record_refused_fixed(
        send_fixed_values(*sender, zabbix_host, entries, settings.document_amounts).failed);
    phases.mark("zabbix_fixos");
    run_figures::record_refused_per_customer(
        send_customer_values(*sender, zabbix_host, entries).failed);
    phases.mark("zabbix_clientes");
    const CivilTimeZone zone = snapshot_time_zone(data.time_zone, settings.machine_zone);
    record_writer(sendQuestDB(settings.clientes_server, entries.discovery_qdb, zone));
    phases.mark("questdb_clientes");
    record_writer(sendQuestDBChat(settings.cobranca_server, entries.discovery_qdb, zone));
    phases.mark("questdb_cobranca");
    // A Zabbix destination that failed was left out while the others and the tables were
    // served: the run still failed.
    if (auto left_out = sender->left_out()) throw ZabbixError(*left_out);
    run_deadline::check();
    standard_output().line("OK");
  }
  phases.write();
  return 0;
}

}  // namespace sonda
