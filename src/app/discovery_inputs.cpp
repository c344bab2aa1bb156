#include "app/discovery_inputs.hpp"

namespace sonda {

PgParameters database_parameters(const RunSettings& settings) {
  return {settings.db_ip.value(), settings.db_port.value(), settings.db_name.value(),
          settings.db_user.value(), settings.db_password.value()};
}

QuestDbServer clientes_server(const RunSettings& settings) {
  return {settings.quest_db_ip.value(), settings.quest_db_port.value(),
          settings.quest_db_username.value(), settings.quest_db_password.value()};
}

QuestDbServer cobranca_server(const RunSettings& settings) {
  return {settings.quest_db_ip_chat.value(), settings.quest_db_port_chat.value(),
          settings.quest_db_username_chat.value(), settings.quest_db_password_chat.value()};
}

DiscoverySettings discovery_settings(const RunSettings& settings) {
  return {database_parameters(settings), settings.pop_id.value(), clientes_server(settings),
          cobranca_server(settings), settings.zabbix_host.value()};
}

}  // namespace sonda
