#pragma once

#include <optional>
#include <string>

#include "discovery/discovery_document.hpp"
#include "outside/postgres/pg_connection.hpp"
#include "outside/zabbix/zabbix_settings.hpp"
#include "timeseries/snapshot_writers.hpp"
#include "timeseries/snapshot_zone.hpp"

namespace sonda {

// What a discovery run needs of the command line and of the probe's settings.
struct DiscoverySettings {
  PgParameters database;
  std::string pop_id;
  QuestDbServer clientes_server;  // of the table bekClientes
  QuestDbServer cobranca_server;  // of the table bekCobranca
  std::string zabbix_host;        // "debug" turns the run into its debug report
  DocumentAmounts document_amounts = DocumentAmounts::kept;
  // The file that receives the duration of each phase (measurements), when one is named.
  std::optional<std::string> phase_times_file;
  // The machine's own zone, for date-times in a database zone this machine does not know.
  MachineZone machine_zone;
};

// The customer discovery run, delivering to the Zabbix server of `zabbix_server`. Returns the
// exit status of the completed run.
int discovery_clientes(const DiscoverySettings& settings, const ZabbixSettings& zabbix_server);

}  // namespace sonda
