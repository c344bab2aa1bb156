#pragma once

#include <string>

#include "outside/pg_connection.hpp"
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

// The customer discovery run. Returns the exit status of the completed run.
int discovery_clientes(const DiscoverySettings& settings, const std::string& zabbix_server);

}  // namespace sonda
