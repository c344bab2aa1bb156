#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/run_outcome.hpp"

namespace sonda {

// The Zabbix item (a trapper of text) that receives the outcome of each run.
inline constexpr std::string_view kOutcomeItemKey = "sonda_execucao";

// The longest the send of an outcome may take, in seconds. It comes after the run, which had its
// own limit; a server that does not answer must not hold the next run (or cron) for long.
inline constexpr int kOutcomeSendSeconds = 5;

// Sends `outcome` as the value of kOutcomeItemKey for `zabbix_host` to the Zabbix server of this
// run, found and encrypted as a discovery run finds and encrypts it, within kOutcomeSendSeconds.
// Returns nothing when the server stored it; otherwise one line in Portuguese saying why it was
// not sent or was refused. Never raises: a lost outcome changes nothing else of the run.
std::optional<std::string> send_run_outcome(const std::string& zabbix_host,
                                            const RunOutcome& outcome);

// Whether a direct run (one not started by launch_) sends its outcome: SONDA_SEND_OUTCOME is "1"
// (unset, empty or "0": it does not). `text` is the variable's value, null when unset. Raises
// ConfigError, naming the variable, for any other value.
bool outcome_requested_from(const char* text);

// The same, from this process's environment.
bool outcome_requested();

}  // namespace sonda
