#pragma once

#include "app/run_settings.hpp"
#include "discovery/discovery_clientes.hpp"

namespace sonda {

// The parts of the command line that each layer below reads. Raises ConfigError naming the
// first setting that the short form of the command line lacks.
PgParameters database_parameters(const RunSettings& settings);
QuestDbServer clientes_server(const RunSettings& settings);  // quest_db_*
QuestDbServer cobranca_server(const RunSettings& settings);  // quest_db_*_chat
DiscoverySettings discovery_settings(const RunSettings& settings);

}  // namespace sonda
