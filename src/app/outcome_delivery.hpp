#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/configuration.hpp"
#include "app/run_outcome.hpp"

namespace sonda {

// The Zabbix item (a trapper of text) that receives the outcome of each run.
inline constexpr std::string_view kOutcomeItemKey = "sonda_execucao";

// The longest the send of an outcome may take, in seconds. It comes after the run, which had its
// own limit; a server that does not answer must not hold the next run (or cron) for long.
inline constexpr int kOutcomeSendSeconds = 5;

// Sends `outcome` as the value of kOutcomeItemKey for `zabbix_host` to the Zabbix servers of
// `configuration` (the run's settings), found and encrypted as a discovery run finds and
// encrypts them, within kOutcomeSendSeconds. Returns nothing when the server stored it;
// otherwise one line in Portuguese saying why it was not sent or was refused. Never raises: a
// lost outcome changes nothing else of the run.
std::optional<std::string> send_run_outcome(const std::string& zabbix_host,
                                            const Configuration& configuration,
                                            const RunOutcome& outcome);

}  // namespace sonda
