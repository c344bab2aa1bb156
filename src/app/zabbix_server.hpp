#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sonda {

// Where the Zabbix server address may come from, in order of preference.
struct ZabbixServerSources {
  std::optional<std::string> environment;         // SONDA_ZABBIX_SERVER
  std::vector<std::string> agent_configurations;  // files with a ServerActive line
  std::optional<std::string> configuration{};     // SONDA_ZABBIX_CONFIG: this file instead
};

// The sources of a real run: the environment variable SONDA_ZABBIX_SERVER, then the file
// named by SONDA_ZABBIX_CONFIG, or without it the Zabbix agent configurations
// /etc/zabbix/zabbix_agentd.conf and /etc/zabbix/zabbix_agent2.conf.
ZabbixServerSources default_zabbix_server_sources();

// The addresses as host:port (port 10051 when not given), in the list form of ServerActive (","
// between destinations, ";" between the nodes of one cluster): from the environment value when set,
// otherwise from ServerActive in the first agent configuration that has one, otherwise
// 127.0.0.1:10051. Raises ConfigError, naming the source, on a malformed value
// and when the file named by `configuration` cannot be read.
std::string zabbix_server_from(const ZabbixServerSources& sources);

// The configuration file whose TLS settings apply to the run, as zabbix_sender -c would read
// it: the `configuration` file when named; otherwise the agent configuration that gave
// ServerActive, or the first one that can be read; nothing when none can. Raises ConfigError
// when the named `configuration` cannot be read.
std::optional<std::string> zabbix_configuration_file(const ZabbixServerSources& sources);

// The monitoring server address of this run, for the host `zabbix_host` (every host of a run
// is served by the same server).
std::string get_zabbix_server(const std::string& zabbix_host);

}  // namespace sonda
