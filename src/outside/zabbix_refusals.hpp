#pragma once

#include <optional>
#include <string_view>

namespace sonda {

// The counts of a trapper's "info" text ("processed: 1; failed: 0; total: 1; seconds spent:
// ..."); nothing when the text does not have both.
struct TrapperCounts {
  long processed = 0;
  long failed = 0;
};
std::optional<TrapperCounts> trapper_counts(std::string_view info);

// A Zabbix server answers "success" even when it dropped the value: a host it does not know,
// an item it does not have, or a connection the host does not accept (a host that takes only
// TLS answers a clear-text sender so). When `info` counts failed values, one line on standard
// error says so, naming the server `where` and the item `key`; once per process, as the
// values after it are most often refused for the same reason. Never raises.
void report_failed_values(std::string_view where, std::string_view key,
                          std::string_view info) noexcept;

}  // namespace sonda
