#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sonda {

// What the server did with the values of one or more requests. A server "success" only means
// the request was read: values for a host or item it does not know, or does not accept from
// this address, are counted as failed.
struct ZabbixCounts {
  std::uint64_t processed = 0;
  std::uint64_t failed = 0;
  std::uint64_t total = 0;
  // Of `failed`, the values the answer left out of its counts (a total below what was sent):
  // not said to be refused, but not said to be kept either.
  std::uint64_t unconfirmed = 0;

  ZabbixCounts& operator+=(const ZabbixCounts& other) {
    processed += other.processed;
    failed += other.failed;
    total += other.total;
    unconfirmed += other.unconfirmed;
    return *this;
  }
};

// Where a Zabbix 7.0 proxy of a proxy group, or the server, sends a sender whose host another
// proxy of the group monitors: {"redirect":{"revision":N,"address":"host:port"}}, or with
// "reset":true to go back to the configured address. The request was not taken.
struct ZabbixRedirect {
  std::uint64_t revision = 0;
  std::string address;  // empty with `reset`
  bool reset = false;
};

// The answer to a "sender data" request.
struct ZabbixReply {
  std::string response;  // "success" when the request was taken
  std::string info;      // "processed: 1; failed: 0; total: 1; seconds spent: 0.000044"
  // Read from `info`; nothing when the server did not give them in that form.
  std::optional<ZabbixCounts> counts;
  // Present when the answer sends the request elsewhere.
  std::optional<ZabbixRedirect> redirect;
};

// Reads an answer's JSON text; nothing when it is not an object with a text "response". The
// counts are those of a request of `sent` values, made to add up to it: a value the answer does
// not count as processed counts as failed (as unconfirmed when the answer did not count it as
// failed either), and no count exceeds `sent`, however large the number the server wrote. A
// "redirect" that is not an object with an address or a reset is kept with an empty address and
// no reset, for the caller to refuse.
std::optional<ZabbixReply> parse_zabbix_reply(std::string_view json, std::uint64_t sent);

}  // namespace sonda
