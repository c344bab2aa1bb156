#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/config_lines.hpp"
#include "app/small_file.hpp"

namespace sonda {

// Most bytes of agent configuration read for one file and the files it includes, together:
// agent files are small, and a bound keeps a wrong path (a device, a huge file) from costing
// the run its memory or its time.
inline constexpr std::size_t kMaxAgentConfiguration = 1024 * 1024;

// Most levels of Include, the agent's own bound: the named file is the first.
inline constexpr int kMaxIncludeDepth = 10;

// The setting lines of the Zabbix agent configuration file at `path`, as the agent reads them:
// in file order, each Include line replaced by the lines of what it names (a file, every
// regular file of a folder, or the files of a folder that match a pattern with "*" in its last
// part, in name order), a relative path taken from the folder of `path`. Lines without "=" are
// left out; every line says its own file and line. Raises ConfigError, naming the file (and the
// Include line), when a file cannot be read, is not a regular file or passes
// kMaxAgentConfiguration with the files it includes, or when an Include names nothing there or
// nests deeper than kMaxIncludeDepth. A `path` that does not exist (or may not be opened) gives
// nothing when `missing` says so; an included file must be there.
std::optional<std::vector<ConfigLine>> read_agent_configuration(
    const std::string& path, const std::string& what, MissingFile missing = MissingFile::fails);

// The value of the last line named `name` (the one the agent uses), when there is one.
const ConfigLine* last_setting(const std::vector<ConfigLine>& lines, std::string_view name);

}  // namespace sonda
