#pragma once

#include <string_view>

#include "app/configuration.hpp"
#include "app/run_settings.hpp"

namespace sonda {

// Arms the runtime limit and dispatches on the mode: the version banner, the customer
// discovery, the launcher, or nothing. `environment` holds the probe's settings from the
// environment; the configuration file is read only by the modes that use a setting (the
// discovery and the launcher), and each setting is checked where it is used, so that neither
// can fail the banner or a mode that does nothing. Returns the exit status of a completed run;
// failures (TimeoutException included) pass to the caller with the limit disarmed.
int main_pass(const RunSettings& settings, const Configuration& environment,
              std::string_view invocation_name);

}  // namespace sonda
