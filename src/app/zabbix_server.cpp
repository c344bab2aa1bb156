#include "app/zabbix_server.hpp"

#include "app/agent_configuration.hpp"
#include "app/probe_settings.hpp"
#include "app/zabbix_tls_settings.hpp"

namespace sonda {

namespace {

constexpr std::string_view kFallback = "127.0.0.1:10051";

// The servers of the last ServerActive of `lines`, when it has a value.
bool take_server_active(const std::vector<ConfigLine>& lines, ZabbixSettings& settings) {
  const ConfigLine* line = last_setting(lines, "ServerActive");
  if (line == nullptr || line->value.empty()) return false;
  settings.destinations = parse_zabbix_destinations(line->value, line->source());
  settings.source = line->named();
  return true;
}

}  // namespace

ZabbixServerSources zabbix_server_sources(const Configuration& configuration) {
  ZabbixServerSources sources;
  if (const ConfigLine* line = configuration.find("SONDA_ZABBIX_SERVER")) sources.server = *line;
  if (const ConfigLine* line = configuration.find("SONDA_ZABBIX_CONFIG")) {
    sources.configuration = *line;
  }
  sources.agent_configurations = {"/etc/zabbix/zabbix_agentd.conf",
                                  "/etc/zabbix/zabbix_agent2.conf"};
  return sources;
}

ZabbixSettings zabbix_settings_from(const ZabbixServerSources& sources, bool with_tls) {
  ZabbixSettings settings;
  std::optional<std::vector<ConfigLine>> named;
  // Read when it gives something: the servers, or the TLS settings.
  if (sources.configuration && (!sources.server || with_tls)) {
    const std::string& path = sources.configuration->value;
    named = read_agent_configuration(path,
                                     "o arquivo " + path + " de " + sources.configuration->named());
  }

  if (sources.server) {
    settings.destinations =
        parse_zabbix_destinations(sources.server->value, sources.server->source());
    settings.source = sources.server->named();
  } else if (named) {
    take_server_active(*named, settings);
  } else {
    for (const std::string& path : sources.agent_configurations) {
      const auto lines = read_agent_configuration(path, "o arquivo " + path + " do agente Zabbix",
                                                  MissingFile::gives_nothing_if_forbidden_too);
      if (lines && take_server_active(*lines, settings)) break;
    }
  }
  if (settings.destinations.empty()) {
    settings.destinations = parse_zabbix_destinations(kFallback, "");
    settings.source = std::string(kFallback) + " (padrão)";
  }

  if (with_tls && named) settings.tls = zabbix_tls_settings(*named, sources.configuration->value);
  return settings;
}

ZabbixSettings get_zabbix_server(const std::string& zabbix_host, const Configuration& configuration,
                                 ZabbixUse use) {
  const bool sends = use == ZabbixUse::send;
  ZabbixSettings settings =
      zabbix_settings_from(zabbix_server_sources(configuration), sends && zabbix_host != "debug");
  if (sends) settings.batch = zabbix_batch(configuration);
  return settings;
}

}  // namespace sonda
