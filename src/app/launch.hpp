#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/run_settings.hpp"

namespace sonda {

// Whether `mode` asks for a background run: it contains "launch_".
bool is_launch_mode(std::string_view mode);

// The mode of the background run: the text after the first "launch_" of `mode`.
std::string launched_mode(std::string_view mode);

// Where a background run writes its output: `folder` (SONDA_LOG_DIR) when one is configured,
// otherwise /var/log/sonda-cobranca when it is a writable folder, otherwise the temporary folder
// (TMPDIR or /tmp); the file is named after the zabbix host and the mode, one file for each
// pair: a name that had to be altered to fit there also carries a fingerprint of its bytes.
std::string launch_log_path(const std::optional<std::string>& folder, std::string_view zabbix_host,
                            std::string_view launched);

// The lock file beside that log: the same name ending in ".lock".
std::string launch_lock_path(const std::optional<std::string>& folder, std::string_view zabbix_host,
                             std::string_view launched);

// Starts, detached, a new run of this program with the same seventeen settings (handed over on
// an inherited descriptor, never as arguments), whose mode is the text after the first
// "launch_" of `mode`, and returns at once. While such a run for the same zabbix host and mode
// is still going, starts nothing and notes it in that run's log. The log lies in `log_folder`
// as launch_log_path() says. Raises LaunchError when it cannot be started.
void launch(const std::string& mode, const RunSettings& settings, std::string_view invocation_name,
            const std::optional<std::string>& log_folder);

}  // namespace sonda
