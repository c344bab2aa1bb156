#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "support/servers.hpp"

namespace sonda::test {

// The newest value of `host`'s item `key` stored since `since` (epoch seconds), from the history
// table of its type; nothing when none is there yet.
std::optional<std::string> newest_value(PgSession& zabbix, const std::string& host,
                                        const std::string& key, std::int64_t since);

// The same, waiting (up to 15 s) for the server's history syncers to write it.
std::optional<std::string> stored_value(PgSession& zabbix, const std::string& host,
                                        const std::string& key, std::int64_t since);

}  // namespace sonda::test
