#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "app/config_lines.hpp"

namespace sonda {

// Where a setting may be given.
enum class SettingPlace {
  anywhere,     // the configuration file or the environment
  environment,  // the environment alone (the file's own name, and what only tests set)
};

struct SettingName {
  std::string_view name;
  SettingPlace place;
};

// Every setting the probe reads besides the seventeen arguments, by the name of its
// environment variable, which is also its name in the configuration file. (libpq reads its own
// PG* variables, and the launcher TMPDIR.)
inline constexpr SettingName kSettingNames[] = {
    {"SONDA_CONFIG_FILE", SettingPlace::environment},
    {"SONDA_ZABBIX_SERVER", SettingPlace::anywhere},
    {"SONDA_ZABBIX_CONFIG", SettingPlace::anywhere},
    {"SONDA_ZABBIX_BATCH", SettingPlace::anywhere},
    {"SONDA_DISCOVERY_AMOUNTS", SettingPlace::anywhere},
    {"SONDA_LOG_DIR", SettingPlace::anywhere},
    {"SONDA_PHASE_TIMES", SettingPlace::anywhere},
    {"SONDA_SEND_OUTCOME", SettingPlace::environment},
    {"SSL_CERT_FILE", SettingPlace::anywhere},
    {"SSL_CERT_DIR", SettingPlace::anywhere},
    {"TZ", SettingPlace::environment},
    {"TZDIR", SettingPlace::environment},
    {"SONDA_TEST_RUNTIME_LIMIT", SettingPlace::environment},
    {"SONDA_TEST_ROWS_PER_REQUEST", SettingPlace::environment},
};

// The probe's configuration file when SONDA_CONFIG_FILE names none.
inline constexpr std::string_view kDefaultConfigurationFile =
    "/etc/sonda-cobranca/sonda-cobranca.conf";

// Most bytes of the configuration file: it holds a few short lines.
inline constexpr std::size_t kMaxConfigurationFile = 1024 * 1024;

// The settings of a run as text, each with where it came from. A setting no source gives takes
// its built-in default where it is used; a value is checked where it is used too, so that a
// malformed setting fails only the runs that need it.
class Configuration {
 public:
  // The setting `name`, or nothing when no source gives it.
  const ConfigLine* find(std::string_view name) const;
  // Gives `line.name` the value of `line`, in place of any earlier one.
  void set(ConfigLine line);

 private:
  std::vector<ConfigLine> settings_;
};

// The settings of kSettingNames that the environment gives, read from it once.
Configuration environment_settings();

// The settings of a run: those of the configuration file, the one SONDA_CONFIG_FILE names in
// `environment` (an empty name: none) or else `default_file` when it exists, overridden by those
// of `environment`.
// The file holds "NAME=value" lines and comments (#). Raises ConfigError naming the file and the
// line for a line without "=", an unknown name, a name only the environment may give or a name
// given twice; and when a file named by SONDA_CONFIG_FILE (or an existing `default_file`) cannot
// be read.
Configuration run_configuration(
    const Configuration& environment,
    const std::string& default_file = std::string(kDefaultConfigurationFile));

}  // namespace sonda
