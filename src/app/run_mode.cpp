#include "app/run_mode.hpp"

#include <string>

#include "app/discovery_inputs.hpp"
#include "app/launch.hpp"
#include "app/probe_settings.hpp"
#include "app/zabbix_server.hpp"
#include "console/version_banner.hpp"
#include "discovery/discovery_clientes.hpp"
#include "discovery/run_figures.hpp"
#include "outside/process/runtime_limit.hpp"

namespace sonda {

int run_mode(const RunSettings& settings, const Configuration& environment,
             std::string_view invocation_name) {
  const auto limit = runtime_limiter(runtime_limit(environment));
  // A run ended by the backstop still tells the process waiting for it why.
  if (const auto figures = run_figures::mirror()) {
    set_backstop_records(*figures, run_figures::time_limit_records(run_deadline::expiry_text()));
  }
  if (settings.mode == "version") {
    get_version(invocation_name);
    return 0;
  }
  const std::string& zabbix_host = settings.zabbix_host.value();
  const Configuration configuration = run_configuration(environment);
  // Every mode past the banner looks the servers up: an address that cannot be read fails the
  // run whatever its mode. Only the discovery run reads what it needs to send.
  if (settings.mode == "discovery_clientes") {
    const ZabbixSettings zabbix_server =
        get_zabbix_server(zabbix_host, configuration, ZabbixUse::send);
    return discovery_clientes(discovery_settings(settings, configuration), zabbix_server);
  }
  (void)get_zabbix_server(zabbix_host, configuration, ZabbixUse::look_up);
  if (is_launch_mode(settings.mode)) {
    launch(settings.mode, settings, invocation_name, configuration);
  }
  return 0;
}

}  // namespace sonda
