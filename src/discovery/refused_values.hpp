#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "outside/zabbix/zabbix_reply.hpp"

namespace sonda {

// The line for standard error when the Zabbix server refused, or left uncounted, some of the
// run's fixed values (the totals and the discovery document) sent under `keys`, with the usual
// causes; nothing when `counts` show none lost. A lost fixed value is always a setup fault on
// the server's side: the run itself goes on. (The per-customer values have no line: their items
// come from low-level discovery, so every first run, and every run with new customers, sees
// some refused as a matter of course.)
std::optional<std::string> refused_fixed_line(std::string_view zabbix_host,
                                              std::span<const std::string> keys,
                                              const ZabbixCounts& counts);

}  // namespace sonda
