#include "app/inherited_settings.hpp"

#include "outside/process/handed_over_file.hpp"

namespace sonda {

namespace {

std::string unreadable(std::string_view why) {
  return "não foi possível ler a configuração herdada pela execução em segundo plano: " +
         std::string(why);
}

}  // namespace

bool is_inherited_settings_form(std::span<const char* const> arguments) {
  return arguments.size() == 1 && arguments[0] == kInheritedSettingsArgument;
}

std::string inherited_settings_text(const std::vector<std::string>& arguments) {
  std::string text;
  for (const std::string& argument : arguments) {
    text += argument;
    text.push_back('\0');
  }
  return text;
}

std::optional<RunSettings> read_inherited_settings(int fd) {
  const std::optional<std::string> text = read_handed_over_file(fd);
  if (!text) return std::nullopt;
  std::vector<const char*> arguments;
  for (std::size_t start = 0; start < text->size();) {
    const std::size_t end = text->find('\0', start);
    if (end == std::string::npos) break;
    arguments.push_back(text->data() + start);
    start = end + 1;
  }
  auto settings =
      arguments.size() == kFullFormArgumentCount ? read_run_settings(arguments) : std::nullopt;
  if (!settings) {
    throw ConfigError(
        unreadable("são esperados 17 valores, vieram " + std::to_string(arguments.size())));
  }
  return std::move(*settings);
}

}  // namespace sonda
