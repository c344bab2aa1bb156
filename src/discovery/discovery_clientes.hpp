#pragma once

#include <string>

#include "outside/postgres/pg_connection.hpp"
#include "timeseries/snapshot_writers.hpp"

namespace sonda {

// What a discovery run needs of the command line.
struct DiscoverySettings {
  PgParameters database;
  std::string pop_id;
  QuestDbServer clientes_server;  // of the table bekClientes
  QuestDbServer cobranca_server;  // of the table bekCobranca
  std::string zabbix_host;        // "debug" turns the run into its debug report
};

// The customer discovery run. Returns the exit status of the completed run. `zabbix_batch` is
// the most values one request to the Zabbix server carries (1: one value per connection).
int discovery_clientes(const DiscoverySettings& settings, const std::string& zabbix_server,
                       std::size_t zabbix_batch = 1);

}  // namespace sonda
