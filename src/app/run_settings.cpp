#include "app/run_settings.hpp"

#include <array>
#include <functional>
#include <type_traits>

namespace sonda {

namespace {

// The sixteen settings after the mode, in command-line order.
template <typename Settings>
auto ordered_settings(Settings& s) {
  using Element = std::conditional_t<std::is_const_v<Settings>, const Setting, Setting>;
  return std::array<std::reference_wrapper<Element>, 16>{s.host,
                                                         s.db_ip,
                                                         s.db_port,
                                                         s.db_name,
                                                         s.db_user,
                                                         s.db_password,
                                                         s.pop_id,
                                                         s.quest_db_ip,
                                                         s.quest_db_port,
                                                         s.quest_db_username,
                                                         s.quest_db_password,
                                                         s.quest_db_ip_chat,
                                                         s.quest_db_port_chat,
                                                         s.quest_db_username_chat,
                                                         s.quest_db_password_chat,
                                                         s.zabbix_host};
}

}  // namespace

const std::string& Setting::value() const {
  if (!value_) {
    throw ConfigError("o argumento " + std::string(name_) +
                      " não foi informado; este modo exige os 17 argumentos");
  }
  return *value_;
}

std::optional<RunSettings> read_run_settings(std::span<const char* const> arguments) {
  if (arguments.size() != 1 && arguments.size() != kFullFormArgumentCount) return std::nullopt;
  RunSettings settings;
  settings.mode = arguments[0];
  if (arguments.size() == kFullFormArgumentCount) {
    std::size_t position = 1;
    for (Setting& setting : ordered_settings(settings)) setting.assign(arguments[position++]);
  }
  return settings;
}

std::vector<std::string> full_form_arguments(const RunSettings& settings) {
  std::vector<std::string> arguments{settings.mode};
  for (const Setting& setting : ordered_settings(settings)) {
    arguments.push_back(setting.value());
  }
  return arguments;
}

std::vector<int> secret_positions() {
  const RunSettings settings;
  std::vector<int> positions;
  int position = 1;  // the mode
  for (const Setting& setting : ordered_settings(settings)) {
    ++position;
    if (setting.secret()) positions.push_back(position);
  }
  return positions;
}

std::string wrong_count_line(std::size_t count) {
  return "Erro de execução, parâmetros incorretos. São esperados 17 argumentos. Foram inputados: " +
         std::to_string(count) + " parâmetros.";
}

}  // namespace sonda
