#include "core/host_port.hpp"

#include <algorithm>

#include "core/whole_number.hpp"

namespace sonda {

namespace {

std::optional<std::uint16_t> parse_port(std::string_view text) {
  const auto value = parse_whole_number<unsigned>(text);
  if (!value || *value == 0 || *value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(*value);
}

bool is_ipv6(std::string_view host) {
  return host.find(':') != std::string_view::npos &&
         std::all_of(host.begin(), host.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ||
                  c == ':' || c == '.';
         });
}

bool is_host_name(std::string_view host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
  });
}

bool is_plausible_host(std::string_view host) {
  return !host.empty() && std::none_of(host.begin(), host.end(), [](char c) {
    return c == ' ' || c == '[' || c == ']' || c == '/' || c == ',' || c == ';' ||
           static_cast<unsigned char>(c) < 0x20;
  });
}

}  // namespace

std::string HostPort::text() const {
  const bool ipv6 = host.find(':') != std::string::npos;
  return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::optional<HostPort> parse_host_port(std::string_view text, std::uint16_t default_port,
                                        HostPortProblem* problem, HostRule rule) {
  auto refuse = [&](HostPortProblem what) -> std::optional<HostPort> {
    if (problem) *problem = what;
    return std::nullopt;
  };
  std::string_view host = text;
  std::optional<std::string_view> port;
  bool ipv6 = false;
  if (text.starts_with('[')) {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return refuse(HostPortProblem::host);
    host = text.substr(1, close - 1);
    ipv6 = true;
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (!rest.starts_with(':')) return refuse(HostPortProblem::host);
      port = rest.substr(1);
    }
  } else if (std::count(text.begin(), text.end(), ':') == 1) {
    const std::size_t colon = text.find(':');
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
  } else {
    ipv6 = host.find(':') != std::string_view::npos;
  }
  const bool taken = rule == HostRule::name_service ? is_plausible_host(host)
                     : ipv6                         ? is_ipv6(host)
                                                    : is_host_name(host);
  if (!taken) return refuse(HostPortProblem::host);
  HostPort address{std::string(host), default_port};
  if (port) {
    const auto number = parse_port(*port);
    if (!number) return refuse(HostPortProblem::port);
    address.port = *number;
  }
  if (problem) *problem = HostPortProblem::none;
  return address;
}

}  // namespace sonda
