#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "outside/zabbix/zabbix_reply.hpp"

namespace sonda {

// The line for standard error when the Zabbix server refused `refused` of the run's fixed
// values (the totals and the discovery document) sent under `keys`, with the usual causes;
// nothing when it refused none. A refused fixed value is always a setup fault on the server's
// side: the run itself goes on.
std::optional<std::string> refused_fixed_line(std::string_view zabbix_host,
                                              std::span<const std::string> keys,
                                              std::uint64_t refused);

// The one line for standard error about the per-customer values the server refused, summed
// over the run; nothing when it refused none. Their items come from low-level discovery, so
// the first run, before the server has created them, sees them all refused.
std::optional<std::string> refused_customer_line(std::string_view zabbix_host,
                                                 const ZabbixCounts& counts);

}  // namespace sonda
