#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/run_settings.hpp"

namespace sonda {

// The only argument of a background run: its seventeen settings, passwords included, come on
// an inherited descriptor instead, so that no process list, /proc/PID/cmdline or exec audit log
// ever shows them.
inline constexpr std::string_view kInheritedSettingsArgument = "--configuracao-herdada";

// Whether the arguments after the program name are those of a background run.
bool is_inherited_settings_form(std::span<const char* const> arguments);

// The arguments as they are handed over: each one followed by a NUL, which no argument holds.
std::string inherited_settings_text(const std::vector<std::string>& arguments);

// Reads the settings handed over on `fd` (the sealed memory file of a launcher, from its current
// offset to its end) and closes it. Nothing when `fd` holds anything else: the program then reads
// its arguments as the short form, whose mode alone cannot run. Raises ConfigError when they
// cannot be read or are not seventeen.
std::optional<RunSettings> read_inherited_settings(int fd);

}  // namespace sonda
