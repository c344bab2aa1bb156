#include "outside/zabbix/zabbix_settings.hpp"

#include <algorithm>

#include "core/failure.hpp"

namespace sonda {

namespace {

std::string_view without_blanks(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The parts of `text` between the separators, each without its surrounding blanks.
std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(without_blanks(text.substr(start, end - start)));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

}  // namespace

std::vector<ZabbixDestination> parse_zabbix_destinations(std::string_view list,
                                                         const std::string& source) {
  std::vector<ZabbixDestination> destinations;
  std::vector<HostPort> seen;
  for (const std::string_view cluster : split(list, ',')) {
    ZabbixDestination destination;
    for (const std::string_view node : split(cluster, ';')) {
      const auto address =
          parse_host_port(node, kZabbixTrapperPort, nullptr, HostRule::name_service);
      if (!address) {
        throw ConfigError("endereço do servidor Zabbix inválido " + source + ": \"" +
                          std::string(node) + "\" (use host ou host:porta)");
      }
      const auto same = [&](const HostPort& other) {
        return other.host == address->host && other.port == address->port;
      };
      // The same server twice would get every value twice.
      if (std::any_of(seen.begin(), seen.end(), same)) {
        throw ConfigError("o servidor Zabbix " + address->text() + " aparece mais de uma vez " +
                          source + "; deixe um só");
      }
      seen.push_back(*address);
      destination.nodes.push_back(*address);
    }
    destinations.push_back(std::move(destination));
  }
  return destinations;
}

ZabbixSettings zabbix_settings_for(std::string_view address) {
  ZabbixSettings settings;
  settings.destinations = parse_zabbix_destinations(address, "\"" + std::string(address) + "\"");
  settings.source = std::string(address);
  return settings;
}

}  // namespace sonda
