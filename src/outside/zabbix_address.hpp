#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sonda {

inline constexpr std::uint16_t kZabbixTrapperPort = 10051;

// A Zabbix server (or proxy) address: host name or IP, and the trapper port.
struct ZabbixAddress {
  std::string host;
  std::uint16_t port = kZabbixTrapperPort;

  // host:port, with an IPv6 host in brackets ([::1]:10051).
  std::string text() const;
};

// Reads "host", "host:port", "[ipv6]", "[ipv6]:port" or a bare IPv6 address. Nothing when the
// text is not such an address (empty host, port outside 1..65535, stray brackets or blanks).
std::optional<ZabbixAddress> parse_zabbix_address(std::string_view text);

}  // namespace sonda
