#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/config_lines.hpp"
#include "app/configuration.hpp"
#include "outside/zabbix/zabbix_settings.hpp"

namespace sonda {

// Where the Zabbix settings may come from, in order of preference.
struct ZabbixServerSources {
  std::optional<ConfigLine> server;               // SONDA_ZABBIX_SERVER
  std::vector<std::string> agent_configurations;  // the agent's files, for their ServerActive
  std::optional<ConfigLine> configuration{};      // SONDA_ZABBIX_CONFIG: this file instead
};

// The sources of a run: SONDA_ZABBIX_SERVER and SONDA_ZABBIX_CONFIG of `configuration`, and the
// Zabbix agent configurations /etc/zabbix/zabbix_agentd.conf and /etc/zabbix/zabbix_agent2.conf.
ZabbixServerSources zabbix_server_sources(const Configuration& configuration);

// The Zabbix servers and TLS settings of `sources`, one value per request.
//
// The servers come from `server` when given; otherwise from the ServerActive of the
// `configuration` file when named, or else of the first agent configuration that has one (a
// missing or forbidden one is passed over); otherwise 127.0.0.1:10051. Each file is read as the
// agent reads it, Include and all, and its last ServerActive counts. The list syntax is
// ServerActive's (see parse_zabbix_destinations).
//
// The TLS settings, with `with_tls`, come only from the `configuration` file, as zabbix_sender
// -c takes them: unencrypted without one.
//
// Raises ConfigError, naming the file and line or the variable, for a malformed address, a
// `configuration` file that cannot be read, an agent configuration that exists and cannot be
// read, and TLS settings that cannot work (see zabbix_tls_settings).
ZabbixSettings zabbix_settings_from(const ZabbixServerSources& sources, bool with_tls);

// What a mode does with the Zabbix servers: every mode past the banner looks them up, and only
// the discovery run sends to them.
enum class ZabbixUse { look_up, send };

// The Zabbix settings of this run, for the host `zabbix_host` (every host of a run is served by
// the same servers): those of zabbix_settings_from() with the sources of `configuration`. To
// `send`, also the TLS settings (unless the host is "debug", whose report sends nothing) and the
// batch of SONDA_ZABBIX_BATCH, which a mode that only looks the servers up never reads.
ZabbixSettings get_zabbix_server(const std::string& zabbix_host, const Configuration& configuration,
                                 ZabbixUse use);

}  // namespace sonda
