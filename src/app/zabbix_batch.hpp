#pragma once

#include <cstddef>

namespace sonda {

// Most values one request to the Zabbix server may carry.
inline constexpr std::size_t kMaxZabbixBatch = 10'000;

// The values per Zabbix request that `text` (the value of SONDA_ZABBIX_BATCH) asks for: 1, one
// value per connection, when it is absent (null). Raises ConfigError, naming the variable, when
// it is not a whole number from 1 to kMaxZabbixBatch written with digits only.
std::size_t zabbix_batch_from(const char* text);

// The values per Zabbix request of this run, from the environment.
std::size_t zabbix_batch();

}  // namespace sonda
