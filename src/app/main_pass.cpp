#include "app/main_pass.hpp"

#include <charconv>
#include <cstdlib>
#include <string>

#include "app/discovery_inputs.hpp"
#include "app/launch.hpp"
#include "app/zabbix_batch.hpp"
#include "app/zabbix_server.hpp"
#include "app/zabbix_tls_settings.hpp"
#include "console/version_banner.hpp"
#include "core/constants.hpp"
#include "discovery/discovery_clientes.hpp"
#include "discovery/run_figures.hpp"
#include "outside/process/runtime_limit.hpp"

namespace sonda {

int effective_runtime_limit() {
  const char* override_text = std::getenv("SONDA_TEST_RUNTIME_LIMIT");
  if (override_text == nullptr) return RUNTIME_LIMIT;
  const std::string_view text = override_text;
  int seconds = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (ec != std::errc() || end != text.data() + text.size() || seconds <= 0) {
    throw ConfigError(
        "SONDA_TEST_RUNTIME_LIMIT deve ser um número inteiro de segundos maior "
        "que zero");
  }
  return seconds;
}

int main_pass(const RunSettings& settings, std::string_view invocation_name) {
  const auto limit = runtime_limiter(effective_runtime_limit());
  // A run ended by the backstop still tells the process waiting for it why.
  if (const auto figures = run_figures::mirror()) {
    set_backstop_records(*figures, run_figures::time_limit_records(run_deadline::expiry_text()));
  }
  if (settings.mode == "version") {
    get_version(invocation_name);
    return 0;
  }
  const std::string zabbix_server = get_zabbix_server(settings.zabbix_host.value());
  const std::size_t batch = zabbix_batch();
  if (settings.mode == "discovery_clientes") {
    // A TLS setting that cannot work fails the run here, before the database is read and
    // anything is sent; the debug report sends nothing and needs none.
    if (settings.zabbix_host.value() != "debug") use_zabbix_tls(get_zabbix_tls());
    return discovery_clientes(discovery_settings(settings), zabbix_server, batch);
  }
  if (is_launch_mode(settings.mode)) {
    launch(settings.mode, settings, invocation_name);
  }
  return 0;
}

}  // namespace sonda
