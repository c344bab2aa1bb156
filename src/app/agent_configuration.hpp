#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sonda {

// One "Key=Value" line of a Zabbix agent configuration file.
struct AgentLine {
  std::string key;
  std::string value;
  int number = 0;  // its line number, for messages
};

// The setting lines of the agent configuration file at `path`, in file order, with the blanks
// around keys and values trimmed; comments and lines without "=" are left out. Nothing when the
// file cannot be read (errno says why).
std::optional<std::vector<AgentLine>> read_agent_configuration(const std::string& path);

// `text` without the blanks, tabs and carriage returns at either end.
std::string_view trimmed(std::string_view text);

}  // namespace sonda
