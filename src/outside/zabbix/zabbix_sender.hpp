#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/failure.hpp"
#include "core/field_value.hpp"
#include "outside/zabbix/zabbix_reply.hpp"
#include "outside/zabbix/zabbix_request.hpp"

namespace sonda {

// The port of a Zabbix server's trapper when an address names none.
inline constexpr std::uint16_t kZabbixTrapperPort = 10051;

// Longest a single send of ordinary size may take, connection, request and answer together.
inline constexpr std::chrono::seconds kZabbixCallTimeout{30};

// Slowest transfer a large request is allowed, in bytes per second, on top of
// kZabbixCallTimeout.
inline constexpr std::size_t kZabbixMinThroughput = 100 * 1024;

// The time a send of `wire_bytes` (its frame as written) may take: kZabbixCallTimeout plus its
// transfer at kZabbixMinThroughput, in whole seconds.
std::chrono::seconds zabbix_call_time(std::size_t wire_bytes);

// The frame of a "sender data" request for one value, as zabbix_sender writes it: "ZBXD", flags
// 0x01, the body's length and a reserved field (32-bit little-endian each), then
// {"request":"sender data","data":[{"host":...,"key":...,"value":...}]}. The value travels as a
// JSON string (an integer as its digits, a real number in its shortest round-trip form, a text
// as itself) or as null when absent. A date-time has no Zabbix form (InternalError).
std::string sender_data_frame(std::string_view host, std::string_view key, const FieldValue& value);

// Sends one item value for `zabbix_host` to the Zabbix server at `zabbix_server` (host:port),
// over a connection of its own, and reads the whole answer. The address is resolved once for
// as long as it stays the same, and every address it resolves to is tried in turn; the one that
// answered is tried first by the next send. A request whose body passes 1 MiB is compressed.
// `zabbix_server` may list several destinations as ServerActive does ("," between destinations,
// ";" between the nodes of one cluster; see ZabbixRoute for how nodes and Zabbix 7.0
// redirects are followed): each gets every request, in the order listed. With more than one
// destination, one that fails is named on standard error ("Erro: o destino Zabbix ...") and
// left out of the run's later sends, and the send goes on with the others (once none is left,
// sends do nothing and count nothing): what can be delivered is, and the caller ends the run as
// failed afterwards (see zabbix_destinations_left_out).
// Raises ZabbixError when the server cannot be resolved or reached, breaks the connection or
// closes it before a complete answer, answers something that is not a valid frame with JSON,
// answers "response":"failed", or takes longer than zabbix_call_time(); raises
// TimeoutException at the run's limit. Returns what the server counted, held to the values sent
// (see parse_zabbix_reply): a value it refused (unknown host or item, address not allowed) or
// left uncounted is no failure of the send.
ZabbixCounts send_zabbix(const std::string& zabbix_server, std::string_view zabbix_host,
                         std::string_view key, const FieldValue& value);

// The same for a text that the call may take over: a large value (the discovery document) is
// then never copied but into its frame.
ZabbixCounts send_zabbix(const std::string& zabbix_server, std::string_view zabbix_host,
                         std::string_view key, std::string&& text);

// The same for several values in one request, in the given order (none: nothing is sent).
ZabbixCounts send_zabbix_values(const std::string& zabbix_server, std::string_view zabbix_host,
                                std::span<const ZabbixItemValue> values);

// The message of a failed delivery when the run's sends left out a destination that failed
// (its names and how many of how many); nothing when every destination got every request.
std::optional<std::string> zabbix_destinations_left_out();

}  // namespace sonda
