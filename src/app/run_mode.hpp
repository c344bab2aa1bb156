#pragma once

#include <string_view>

#include "app/configuration.hpp"
#include "app/run_settings.hpp"

namespace sonda {

// The main pass of a run: arms the runtime limit and dispatches on the mode: the version
// banner, the customer discovery, the launcher, or nothing. `environment` holds the probe's
// settings from the environment. Every mode but the banner reads the configuration file and
// looks the Zabbix servers up, so an address that cannot be read fails it; the settings only
// the discovery run uses (the batch size, TLS) are read and checked there alone. Returns the exit
// status of a completed run; failures (TimeoutException included) pass to the caller with the
// limit disarmed.
int run_mode(const RunSettings& settings, const Configuration& environment,
             std::string_view invocation_name);

}  // namespace sonda
