#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/host_port.hpp"
#include "outside/zabbix/zabbix_tls.hpp"

namespace sonda {

// The port of a Zabbix server's trapper when an address names none.
inline constexpr std::uint16_t kZabbixTrapperPort = 10051;

// What an operator checks when no server can be reached, closing every such message.
inline constexpr std::string_view kZabbixAddressAdvice =
    " (confira o endereço do servidor: SONDA_ZABBIX_SERVER ou o ServerActive do agente)";

// Most values one request to the Zabbix server may carry.
inline constexpr std::size_t kMaxZabbixBatch = 10'000;

// Where the values go: one Zabbix server, or the nodes of one high-availability cluster, in the
// order they are to be tried.
struct ZabbixDestination {
  std::vector<HostPort> nodes;
};

// Everything a run needs to reach Zabbix, read once at the entry and handed down whole.
struct ZabbixSettings {
  // Every destination gets every value; never empty.
  std::vector<ZabbixDestination> destinations;
  // Where the addresses came from, for messages ("SONDA_ZABBIX_SERVER", "ServerActive em
  // /etc/zabbix/zabbix_agentd.conf, linha 3", ...).
  std::string source;
  // The most values one request carries (1: one value per connection).
  std::size_t batch = 1;
  ZabbixTls tls;
};

// Reads a list of Zabbix servers as the agent's ServerActive writes it: "," separates
// destinations, ";" the nodes of one cluster; each address is "host", "host:port", "[ipv6]",
// "[ipv6]:port" or a bare IPv6 address (port 10051 when none), blanks around each are ignored.
// A host is whatever the name service may know (an IPv6 address with its scope, fe80::1%eth0,
// included). Raises ConfigError naming `source` (as "na variável X" or "em FILE, linha N") and
// the address for an empty or malformed address, or one listed twice.
std::vector<ZabbixDestination> parse_zabbix_destinations(std::string_view list,
                                                         const std::string& source);

// Settings for one server at `address` (as parse_zabbix_destinations reads it, a list
// included), one value per request, in clear text: for tools and tests.
ZabbixSettings zabbix_settings_for(std::string_view address);

}  // namespace sonda
