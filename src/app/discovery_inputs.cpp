#include "app/discovery_inputs.hpp"

#include "app/probe_settings.hpp"

namespace sonda {

namespace {

QuestDbServer questdb_server(const Setting& ip, const Setting& port, const Setting& username,
                             const Setting& password, const Configuration& configuration) {
  return {ip.value(),
          port.value(),
          username.value(),
          password.value(),
          ca_file(configuration),
          ca_folder(configuration),
          rows_per_request(configuration)};
}

}  // namespace

PgParameters database_parameters(const RunSettings& settings) {
  return {settings.db_ip.value(), settings.db_port.value(), settings.db_name.value(),
          settings.db_user.value(), settings.db_password.value()};
}

QuestDbServer clientes_server(const RunSettings& settings, const Configuration& configuration) {
  return questdb_server(settings.quest_db_ip, settings.quest_db_port, settings.quest_db_username,
                        settings.quest_db_password, configuration);
}

QuestDbServer cobranca_server(const RunSettings& settings, const Configuration& configuration) {
  return questdb_server(settings.quest_db_ip_chat, settings.quest_db_port_chat,
                        settings.quest_db_username_chat, settings.quest_db_password_chat,
                        configuration);
}

DiscoverySettings discovery_settings(const RunSettings& settings,
                                     const Configuration& configuration) {
  // The debug report writes no document: a malformed setting of it cannot fail the report.
  const bool sends = settings.zabbix_host.value() != "debug";
  return {database_parameters(settings),
          settings.pop_id.value(),
          clientes_server(settings, configuration),
          cobranca_server(settings, configuration),
          settings.zabbix_host.value(),
          sends ? discovery_amounts(configuration) : DocumentAmounts::kept,
          phase_times_file(configuration),
          machine_zone(configuration)};
}

}  // namespace sonda
