#include "app/launch.hpp"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "app/inherited_settings.hpp"
#include "outside/process/launcher.hpp"

namespace sonda {

namespace {

constexpr std::string_view kLaunchMarker = "launch_";

// A short, stable fingerprint of a name (32-bit FNV-1a, eight hex digits).
std::string fingerprint(std::string_view text) {
  std::uint32_t hash = 2166136261u;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 16777619u;
  }
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08x", hash);
  return digits;
}

// Host names and modes become part of a file name: anything but letters, digits, '_', '.' and
// (in the host, which comes first) '-' turns into '_', so that no name can reach another
// folder. Each name must still get files of its own, or two hosts would share one lock and one
// log: a name that had to be altered ("isp a", "isp/a", "Mãe") carries the fingerprint of its
// raw bytes after a '+', which no unaltered name holds; a name left as it is keeps its plain
// file name. The mode has no '-' of its own, so the last '-' always ends the host.
std::string file_name_part(std::string_view text, bool dash_allowed) {
  std::string part;
  for (const char c : text) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '.' || (c == '-' && dash_allowed);
    part.push_back(safe ? c : '_');
  }
  if (part.empty() || part.find_first_not_of('.') == std::string::npos) part = "_" + part;
  if (part != text) part += "+" + fingerprint(text);
  return part;
}

std::string log_folder(const std::optional<std::string>& configured) {
  if (configured) return *configured;
  if (::access("/var/log/sonda-cobranca", W_OK | X_OK) == 0) return "/var/log/sonda-cobranca";
  if (const char* folder = std::getenv("TMPDIR"); folder && *folder) return folder;
  return "/tmp";
}

}  // namespace

bool is_launch_mode(std::string_view mode) {
  return mode.find(kLaunchMarker) != std::string_view::npos;
}

std::string launched_mode(std::string_view mode) {
  const std::size_t marker = mode.find(kLaunchMarker);
  return std::string(mode.substr(marker + kLaunchMarker.size()));
}

std::string launch_log_path(const std::optional<std::string>& folder, std::string_view zabbix_host,
                            std::string_view launched) {
  return log_folder(folder) + "/sonda-cobranca-" + file_name_part(zabbix_host, true) + "-" +
         file_name_part(launched, false) + ".log";
}

std::string launch_lock_path(const std::optional<std::string>& folder, std::string_view zabbix_host,
                             std::string_view launched) {
  std::string path = launch_log_path(folder, zabbix_host, launched);
  path.replace(path.size() - 4, 4, ".lock");
  return path;
}

void launch(const std::string& mode, const RunSettings& settings, std::string_view invocation_name,
            const std::optional<std::string>& log_folder) {
  std::vector<std::string> arguments = full_form_arguments(settings);
  arguments.front() = launched_mode(mode);
  const std::string& zabbix_host = settings.zabbix_host.value();

  DetachedRun run;
  run.invocation_name = std::string(invocation_name);
  run.arguments = {std::string(kInheritedSettingsArgument)};
  run.handed_over = inherited_settings_text(arguments);
  run.description = "\"" + arguments.front() + "\" para " + zabbix_host;
  run.log_path = launch_log_path(log_folder, zabbix_host, arguments.front());
  run.lock_path = launch_lock_path(log_folder, zabbix_host, arguments.front());
  start_detached(run);
}

}  // namespace sonda
