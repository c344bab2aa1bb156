#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "app/configuration.hpp"
#include "discovery/discovery_document.hpp"
#include "timeseries/snapshot_zone.hpp"

namespace sonda {

// The typed settings of a run, each read from the configuration where it is used, with its
// built-in default when no source gives it. Each raises ConfigError naming the setting and
// where it came from when its value is malformed.

// The limit of a run in seconds: RUNTIME_LIMIT, or for tests the whole number of seconds in
// SONDA_TEST_RUNTIME_LIMIT.
int runtime_limit(const Configuration& configuration);

// The most values one request to the Zabbix server carries, SONDA_ZABBIX_BATCH: a whole number
// from 1 (one value per connection, the default) to kMaxZabbixBatch.
std::size_t zabbix_batch(const Configuration& configuration);

// The folder of the background runs' logs, SONDA_LOG_DIR, when one is named (not empty).
std::optional<std::string> log_folder(const Configuration& configuration);

// Whether a direct run (one not started by launch_) sends its outcome to Zabbix when it ends,
// SONDA_SEND_OUTCOME: "1" sends, "0", empty or unset does not.
bool sends_outcome(const Configuration& configuration);

// Whether the discovery document keeps each customer's amounts, SONDA_DISCOVERY_AMOUNTS: "1",
// empty or unset keeps them, "0" leaves them out.
DocumentAmounts discovery_amounts(const Configuration& configuration);

// The file that receives the duration of each phase, SONDA_PHASE_TIMES, when one is named.
std::optional<std::string> phase_times_file(const Configuration& configuration);

// This machine's own zone settings: TZ when set (an empty TZ is UTC to the C library, so it
// counts), TZDIR when named.
MachineZone machine_zone(const Configuration& configuration);

// The certificates trusted for QuestDB over HTTPS instead of the system's, SSL_CERT_FILE and
// SSL_CERT_DIR, when named (not empty).
std::optional<std::string> ca_file(const Configuration& configuration);
std::optional<std::string> ca_folder(const Configuration& configuration);

// The rows of one QuestDB request when the tests ask for small ones,
// SONDA_TEST_ROWS_PER_REQUEST (not empty); otherwise the client's own.
std::optional<std::size_t> rows_per_request(const Configuration& configuration);

}  // namespace sonda
