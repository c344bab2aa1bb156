#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/failure.hpp"
#include "core/field_value.hpp"

namespace sonda {

// The port of a Zabbix server's trapper when an address names none.
inline constexpr std::uint16_t kZabbixTrapperPort = 10051;

// Longest a single send may take, connection, request and answer together.
inline constexpr std::chrono::seconds kZabbixCallTimeout{30};

// The frame of a "sender data" request for one value, as zabbix_sender writes it: "ZBXD", flags
// 0x01, the body's length and a reserved field (32-bit little-endian each), then
// {"request":"sender data","data":[{"host":...,"key":...,"value":...}]}. The value travels as a
// JSON string (an integer as its digits, a real number in its shortest round-trip form, a text
// as itself) or as null when absent. A date-time has no Zabbix form (InternalError).
std::string sender_data_frame(std::string_view host, std::string_view key, const FieldValue& value);

// Sends one item value for `zabbix_host` to the Zabbix server at `zabbix_server` (host:port),
// over a connection of its own, and reads the whole answer. The address is resolved once for
// as long as it stays the same. Raises ZabbixError when the server cannot be resolved or
// reached, breaks the connection or closes it before a complete answer, answers something that
// is not a valid frame with JSON, answers "response":"failed", or takes longer than
// kZabbixCallTimeout; raises TimeoutException at the run's limit. The counts of processed and
// failed values in a successful answer are not looked at.
void send_zabbix(const std::string& zabbix_server, std::string_view zabbix_host,
                 std::string_view key, const FieldValue& value);

// The same for a text that the call may take over: a large value (the discovery document) is
// then never copied but into its frame.
void send_zabbix(const std::string& zabbix_server, std::string_view zabbix_host,
                 std::string_view key, std::string&& text);

}  // namespace sonda
