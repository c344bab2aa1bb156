#pragma once

#include <string>

#include "app/run_settings.hpp"

namespace sonda {

// The customer discovery run. Returns the exit status of the completed run.
int discovery_clientes(const RunSettings& settings, const std::string& zabbix_server);

}  // namespace sonda
