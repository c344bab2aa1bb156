#include "app/main_pass.hpp"

#include <string>

#include "app/discovery_inputs.hpp"
#include "app/launch.hpp"
#include "app/probe_settings.hpp"
#include "app/zabbix_server.hpp"
#include "console/version_banner.hpp"
#include "discovery/discovery_clientes.hpp"
#include "outside/process/runtime_limit.hpp"

namespace sonda {

int main_pass(const RunSettings& settings, const Configuration& environment,
              std::string_view invocation_name) {
  const auto limit = runtime_limiter(runtime_limit(environment));
  if (settings.mode == "version") {
    get_version(invocation_name);
    return 0;
  }
  const std::string& zabbix_host = settings.zabbix_host.value();
  if (settings.mode == "discovery_clientes") {
    const Configuration configuration = run_configuration(environment);
    const ZabbixSettings zabbix_server = get_zabbix_server(zabbix_host, configuration);
    return discovery_clientes(discovery_settings(settings, configuration), zabbix_server);
  }
  if (is_launch_mode(settings.mode)) {
    launch(settings.mode, settings, invocation_name, log_folder(run_configuration(environment)));
  }
  return 0;
}

}  // namespace sonda
