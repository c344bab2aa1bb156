#include "outside/zabbix/zabbix_reply.hpp"

#include <algorithm>
#include <charconv>
#include <limits>

#include <nlohmann/json.hpp>

namespace sonda {

namespace {

// The number after "name: " in `info`; a number too large for 64 bits reads as the largest.
std::optional<std::uint64_t> count_of(std::string_view info, std::string_view name) {
  const std::string label = std::string(name) + ": ";
  const std::size_t at = info.find(label);
  if (at == std::string_view::npos) return std::nullopt;
  const char* begin = info.data() + at + label.size();
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(begin, info.data() + info.size(), value);
  if (ec == std::errc::result_out_of_range) return std::numeric_limits<std::uint64_t>::max();
  if (ec != std::errc() || end == begin) return std::nullopt;
  return value;
}

// A server's word is trusted only where it does not contradict what was sent: a count beyond
// `sent` is `sent`, and whatever it does not show as processed (within its total) did not land.
// When the counts contradict each other, the loss wins: telling of a loss that was none costs a
// line, hiding a real one costs the data.
ZabbixCounts accounted(std::uint64_t processed, std::uint64_t failed, std::uint64_t total,
                       std::uint64_t sent) {
  const std::uint64_t said_failed = std::min(failed, sent);
  ZabbixCounts counts;
  counts.total = sent;
  counts.failed = std::max(said_failed, sent - std::min({processed, total, sent}));
  counts.processed = sent - counts.failed;
  counts.unconfirmed = counts.failed - said_failed;
  return counts;
}

}  // namespace

std::optional<ZabbixReply> parse_zabbix_reply(std::string_view json, std::uint64_t sent) {
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
    if (processed && failed && total) reply.counts = accounted(*processed, *failed, *total, sent);
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
