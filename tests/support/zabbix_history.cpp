#include "support/zabbix_history.hpp"

#include <chrono>
#include <thread>

namespace sonda::test {

std::optional<std::string> newest_value(PgSession& zabbix, const std::string& host,
                                        const std::string& key, std::int64_t since) {
  for (const std::string table : {"history", "history_uint", "history_text"}) {
    const auto rows =
        zabbix.exec("SELECT h.value::text FROM " + table +
                    " h JOIN items i ON i.itemid = h.itemid "
                    "JOIN hosts s ON s.hostid = i.hostid WHERE s.host = '" +
                    host + "' AND i.key_ = '" + key + "' AND h.clock >= " + std::to_string(since) +
                    " ORDER BY h.clock DESC, h.ns DESC LIMIT 1");
    if (!rows.empty()) return rows[0][0];
  }
  return std::nullopt;
}

std::optional<std::string> stored_value(PgSession& zabbix, const std::string& host,
                                        const std::string& key, std::int64_t since) {
  for (int i = 0; i < 150; ++i) {
    if (auto value = newest_value(zabbix, host, key, since)) return value;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return std::nullopt;
}

}  // namespace sonda::test
