#include "app/zabbix_server.hpp"

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "app/agent_configuration.hpp"
#include "app/run_settings.hpp"
#include "core/errno_text.hpp"
#include "core/host_port.hpp"
#include "outside/zabbix/zabbix_sender.hpp"

namespace sonda {

namespace {

constexpr std::string_view kEnvironmentVariable = "SONDA_ZABBIX_SERVER";
constexpr std::string_view kConfigurationVariable = "SONDA_ZABBIX_CONFIG";
constexpr std::string_view kFallback = "127.0.0.1:10051";

std::string normalized(std::string_view text, const std::string& source) {
  const auto address = parse_host_port(text, kZabbixTrapperPort);
  if (!address) {
    throw ConfigError("endereço do servidor Zabbix inválido " + source + ": \"" +
                      std::string(text) + "\" (use host ou host:porta)");
  }
  return address->text();
}

// A list as ServerActive writes it ("," between destinations, ";" between the nodes of one
// cluster, blanks around each address ignored), each address as host:port.
std::string normalized_list(std::string_view list, const std::string& source) {
  if (list.find_first_of(",;") == std::string_view::npos) return normalized(list, source);
  std::string text;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = list.find_first_of(",;", start);
    text += normalized(trimmed(list.substr(start, end - start)), source);
    if (end == std::string_view::npos) return text;
    text.push_back(list[end]);
    start = end + 1;
  }
}

// The file's ServerActive, with where it stands; nothing when the file cannot be read or has
// no ServerActive value.
std::optional<std::string> server_active(const std::string& path) {
  const auto lines = read_agent_configuration(path);
  if (!lines) return std::nullopt;
  for (const AgentLine& line : *lines) {
    if (line.key != "ServerActive") continue;
    const std::string_view list = line.value;
    if (list.empty()) return std::nullopt;
    return normalized_list(
        list, "em " + path + ", linha " + std::to_string(line.number) + " (ServerActive)");
  }
  return std::nullopt;
}

// The files to read, in order; a file named by SONDA_ZABBIX_CONFIG must be readable.
std::vector<std::string> configuration_files(const ZabbixServerSources& sources) {
  if (!sources.configuration) return sources.agent_configurations;
  if (!std::ifstream(*sources.configuration)) {
    throw ConfigError("não foi possível ler o arquivo " + *sources.configuration + " de " +
                      std::string(kConfigurationVariable) + ": " + errno_text());
  }
  return {*sources.configuration};
}

}  // namespace

ZabbixServerSources default_zabbix_server_sources() {
  ZabbixServerSources sources;
  if (const char* value = std::getenv(kEnvironmentVariable.data())) sources.environment = value;
  if (const char* value = std::getenv(kConfigurationVariable.data())) {
    sources.configuration = value;
  }
  sources.agent_configurations = {"/etc/zabbix/zabbix_agentd.conf",
                                  "/etc/zabbix/zabbix_agent2.conf"};
  return sources;
}

std::string zabbix_server_from(const ZabbixServerSources& sources) {
  if (sources.environment) {
    return normalized_list(*sources.environment,
                           "na variável " + std::string(kEnvironmentVariable));
  }
  for (const std::string& path : configuration_files(sources)) {
    if (auto address = server_active(path)) return *address;
  }
  return std::string(kFallback);
}

std::optional<std::string> zabbix_configuration_file(const ZabbixServerSources& sources) {
  const std::vector<std::string> files = configuration_files(sources);
  for (const std::string& path : files) {
    try {
      if (server_active(path)) return path;
    } catch (const ConfigError&) {
      return path;  // its ServerActive is unusable, yet it is the file that has one
    }
  }
  for (const std::string& path : files) {
    if (std::ifstream(path)) return path;
  }
  return std::nullopt;
}

std::string get_zabbix_server(const std::string& /*zabbix_host*/) {
  return zabbix_server_from(default_zabbix_server_sources());
}

}  // namespace sonda
