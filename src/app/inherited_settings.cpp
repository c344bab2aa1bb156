#include "app/inherited_settings.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/errno_text.hpp"
#include "core/unique_fd.hpp"

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

RunSettings read_inherited_settings(int fd) {
  const UniqueFd source(fd);
  struct stat status {};
  // Anything else on that descriptor (a terminal, a pipe nobody writes) could block the run.
  if (::fstat(source.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    throw ConfigError(unreadable("o descritor " + std::to_string(fd) + " não é um arquivo"));
  }
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(source.get(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw ConfigError(unreadable(errno_text()));
    text.append(buffer, static_cast<std::size_t>(n));
  }
  std::vector<const char*> arguments;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\0', start);
    if (end == std::string::npos) break;
    arguments.push_back(text.data() + start);
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
