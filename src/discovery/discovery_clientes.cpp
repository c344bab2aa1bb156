#include "discovery/discovery_clientes.hpp"

#include "discovery/billing_query.hpp"
#include "discovery/customer_entries.hpp"
#include "discovery/debug_report.hpp"
#include "discovery/delivery.hpp"
#include "outside/runtime_limit.hpp"

namespace sonda {

int discovery_clientes(const RunSettings& settings, const std::string& zabbix_server) {
  const BillingData data = read_billing_data(settings);
  const std::string& zabbix_host = settings.zabbix_host.value();
  const CustomerEntries entries = build_customer_entries(data, zabbix_host);
  run_deadline::check();
  if (zabbix_host == "debug") {
    print_debug_report(entries);
  } else {
    deliver(settings, zabbix_server, entries);
  }
  return 0;
}

}  // namespace sonda
