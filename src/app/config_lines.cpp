#include "app/config_lines.hpp"

namespace sonda {

std::string ConfigLine::named() const { return file.empty() ? name : name + " em " + place(); }

std::string ConfigLine::source() const {
  return file.empty() ? "na variável " + name : "em " + place() + " (" + name + ")";
}

std::string ConfigLine::place() const {
  return file.empty() ? name : file + ", linha " + std::to_string(line);
}

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::vector<ConfigLine> config_lines(std::string_view text, const std::string& file) {
  std::vector<ConfigLine> lines;
  int number = 0;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line = trimmed(text.substr(start, end - start));
    start = end + 1;
    ++number;
    if (line.empty() || line.starts_with('#')) continue;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) {
      lines.push_back({"", std::string(line), file, number});
      continue;
    }
    lines.push_back({std::string(trimmed(line.substr(0, equals))),
                     std::string(trimmed(line.substr(equals + 1))), file, number});
  }
  return lines;
}

}  // namespace sonda
