#pragma once

#include "app/configuration.hpp"
#include "app/run_settings.hpp"
#include "discovery/discovery_clientes.hpp"

namespace sonda {

// The parts of the command line, and of the probe's settings, that each layer below reads.
// Raises ConfigError naming the first setting that the short form of the command line lacks,
// or a malformed setting of `configuration`.
PgParameters database_parameters(const RunSettings& settings);
// quest_db_*
QuestDbServer clientes_server(const RunSettings& settings, const Configuration& configuration);
// quest_db_*_chat
QuestDbServer cobranca_server(const RunSettings& settings, const Configuration& configuration);
DiscoverySettings discovery_settings(const RunSettings& settings,
                                     const Configuration& configuration);

}  // namespace sonda
