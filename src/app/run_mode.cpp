#include "app/run_mode.hpp"

#include <string>

#include "app/discovery_inputs.hpp"
#include "app/launch.hpp"
#include "app/probe_settings.hpp"
#include "app/zabbix_server.hpp"
#include "console/version_banner.hpp"
#include "discovery/discovery_clientes.hpp"
#include "outside/process/runtime_limit.hpp"

namespace sonda {

int run_mode(const RunSettings& settings, const Configuration& environment,
             std::string_view invocation_name) {
  const auto limit = runtime_limiter(runtime_limit(environment));
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
    launch(settings.mode, settings, invocation_name, log_folder(configuration));
  }
  return 0;
}

}  // namespace sonda
