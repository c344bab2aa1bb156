#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/failure.hpp"

namespace sonda {

// One command-line value. It is absent in the short form of the command line (the mode alone),
// which is distinct from present and empty.
class Setting {
 public:
  enum class Kind { plain, secret };
  explicit Setting(std::string_view name, Kind kind = Kind::plain) : name_(name), kind_(kind) {}

  // The text exactly as received. Raises ConfigError naming the setting when it is absent.
  const std::string& value() const;

  void assign(std::string text) { value_ = std::move(text); }

  // Whether the command line gave it (the short form gives only the mode).
  bool present() const { return value_.has_value(); }

  // A secret (a password) never shows in any process's arguments or in any message.
  bool secret() const { return kind_ == Kind::secret; }

 private:
  std::string_view name_;
  Kind kind_;
  std::optional<std::string> value_;
};

// The seventeen command-line values, all text exactly as received (nothing trimmed, converted
// or validated). Filled once, read-only afterwards.
struct RunSettings {
  std::string mode;
  Setting host{"host"};
  Setting db_ip{"db_ip"};
  Setting db_port{"db_port"};
  Setting db_name{"db_name"};
  Setting db_user{"db_user"};
  Setting db_password{"db_password", Setting::Kind::secret};
  Setting pop_id{"pop_id"};
  Setting quest_db_ip{"quest_db_ip"};
  Setting quest_db_port{"quest_db_port"};
  Setting quest_db_username{"quest_db_username"};
  Setting quest_db_password{"quest_db_password", Setting::Kind::secret};
  Setting quest_db_ip_chat{"quest_db_ip_chat"};
  Setting quest_db_port_chat{"quest_db_port_chat"};
  Setting quest_db_username_chat{"quest_db_username_chat"};
  Setting quest_db_password_chat{"quest_db_password_chat", Setting::Kind::secret};
  Setting zabbix_host{"zabbix_host"};
};

inline constexpr int kFullFormArgumentCount = 17;

// Positions (counted after the program name) of the arguments of the full form that carry a
// secret.
std::vector<int> secret_positions();

// Reads the arguments after the program name: one (the mode alone) or seventeen. Any other
// count gives no settings.
std::optional<RunSettings> read_run_settings(std::span<const char* const> arguments);

// The arguments of the full form in command-line order, mode first.
std::vector<std::string> full_form_arguments(const RunSettings& settings);

// The line written when the count is wrong.
std::string wrong_count_line(std::size_t count);

}  // namespace sonda
