#pragma once

#include <string>

#include "app/run_settings.hpp"

namespace sonda {

// The customer discovery run. Returns the exit status of the completed run. `zabbix_batch` is
// the most values one request to the Zabbix server carries (1: one value per connection).
int discovery_clientes(const RunSettings& settings, const std::string& zabbix_server,
                       std::size_t zabbix_batch = 1);

}  // namespace sonda
