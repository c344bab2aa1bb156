#include "outside/zabbix/zabbix_reply.hpp"

#include <charconv>

#include <nlohmann/json.hpp>

namespace sonda {

namespace {

// The number after "name: " in `info`.
std::optional<std::uint64_t> count_of(std::string_view info, std::string_view name) {
  const std::string label = std::string(name) + ": ";
  const std::size_t at = info.find(label);
  if (at == std::string_view::npos) return std::nullopt;
  const char* begin = info.data() + at + label.size();
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(begin, info.data() + info.size(), value);
  if (ec != std::errc() || end == begin) return std::nullopt;
  return value;
}

}  // namespace

std::optional<ZabbixReply> parse_zabbix_reply(std::string_view json) {
  const auto parsed = nlohmann::json::parse(json, nullptr, false);
  if (!parsed.is_object()) return std::nullopt;
  const auto response = parsed.find("response");
  if (response == parsed.end() || !response->is_string()) return std::nullopt;
  ZabbixReply reply;
  reply.response = response->get<std::string>();
  if (const auto info = parsed.find("info"); info != parsed.end() && info->is_string()) {
    reply.info = info->get<std::string>();
    const auto processed = count_of(reply.info, "processed");
    const auto failed = count_of(reply.info, "failed");
    const auto total = count_of(reply.info, "total");
    if (processed && failed && total) reply.counts = ZabbixCounts{*processed, *failed, *total};
  }
  if (const auto redirect = parsed.find("redirect"); redirect != parsed.end()) {
    ZabbixRedirect& to = reply.redirect.emplace();
    if (redirect->is_object()) {
      if (const auto revision = redirect->find("revision");
          revision != redirect->end() && revision->is_number_unsigned()) {
        to.revision = revision->get<std::uint64_t>();
      }
      if (const auto address = redirect->find("address");
          address != redirect->end() && address->is_string()) {
        to.address = address->get<std::string>();
      }
      if (const auto reset = redirect->find("reset"); reset != redirect->end()) {
        to.reset = reset->is_boolean() && reset->get<bool>();
      }
    }
  }
  return reply;
}

}  // namespace sonda
