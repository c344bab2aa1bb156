#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sonda {

// A server's address: a host name or IP address, and a TCP port.
struct HostPort {
  std::string host;  // an IPv6 address without its brackets
  std::uint16_t port = 0;

  // host:port, with an IPv6 host in brackets ([::1]:10051): the form of messages and URLs.
  std::string text() const;
};

// What is wrong with an address text that parse_host_port refused.
enum class HostPortProblem { none, host, port };

// Which hosts an address may name.
enum class HostRule {
  // A host name of letters, digits, '.', '-' and '_', or an IPv6 address of hex digits, ':' and
  // '.': nothing that could end a name or change a URL. For hosts that become part of a URL.
  url_safe,
  // Any text without blanks, control characters, brackets, '/', ',' or ';': whatever the name
  // service may know, such as an IPv6 address with its scope (fe80::1%eth0) or a name beyond
  // ASCII. For hosts handed to the name service alone.
  name_service,
};

// Reads "host", "host:port", "[ipv6]", "[ipv6]:port" or a bare IPv6 address; a missing port is
// `default_port`, and `rule` says which hosts are taken. Nothing when the text is not such an
// address (empty host, port outside 1..65535, stray brackets or blanks); `problem`, when given,
// then says which part is wrong.
std::optional<HostPort> parse_host_port(std::string_view text, std::uint16_t default_port,
                                        HostPortProblem* problem = nullptr,
                                        HostRule rule = HostRule::url_safe);

}  // namespace sonda
