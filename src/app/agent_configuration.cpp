#include "app/agent_configuration.hpp"

#include <fstream>

namespace sonda {

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::optional<std::vector<AgentLine>> read_agent_configuration(const std::string& path) {
  std::ifstream file(path);
  if (!file) return std::nullopt;
  std::vector<AgentLine> lines;
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    const std::string_view text = trimmed(line);
    const auto equals = text.find('=');
    if (text.starts_with('#') || equals == std::string_view::npos) continue;
    lines.push_back({std::string(trimmed(text.substr(0, equals))),
                     std::string(trimmed(text.substr(equals + 1))), number});
  }
  return lines;
}

}  // namespace sonda
