#include "outside/zabbix_address.hpp"

#include <algorithm>
#include <charconv>

namespace sonda {

namespace {

std::optional<std::uint16_t> parse_port(std::string_view text) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

bool plausible_host(std::string_view host) {
  return !host.empty() && std::none_of(host.begin(), host.end(), [](char c) {
    return c == ' ' || c == '\t' || c == '[' || c == ']' || c == '/' || c == ',' || c == ';' ||
           static_cast<unsigned char>(c) < 0x20;
  });
}

}  // namespace

std::string ZabbixAddress::text() const {
  const bool ipv6 = host.find(':') != std::string::npos;
  return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::optional<ZabbixAddress> parse_zabbix_address(std::string_view text) {
  ZabbixAddress address;
  std::string_view host = text;
  std::string_view port;
  if (text.starts_with('[')) {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = text.substr(1, close - 1);
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (!rest.starts_with(':')) return std::nullopt;
      port = rest.substr(1);
      if (port.empty()) return std::nullopt;
    }
  } else if (std::count(text.begin(), text.end(), ':') == 1) {
    const std::size_t colon = text.find(':');
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (port.empty()) return std::nullopt;
  }
  if (!plausible_host(host)) return std::nullopt;
  if (!port.empty()) {
    const auto number = parse_port(port);
    if (!number) return std::nullopt;
    address.port = *number;
  }
  address.host = std::string(host);
  return address;
}

}  // namespace sonda
