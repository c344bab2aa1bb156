#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "core/failure.hpp"
#include "core/field_value.hpp"
#include "outside/zabbix/zabbix_reply.hpp"
#include "outside/zabbix/zabbix_request.hpp"
#include "outside/zabbix/zabbix_settings.hpp"

namespace sonda {

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

class ZabbixTlsContext;

// The run's Zabbix server, as the sends reach it: the settings, and what the run learns on the
// way (the server's resolved addresses, the one that answered last, the TLS context). Values go
// to the first node of the first destination.
class ZabbixSender {
 public:
  // Sets up TLS when the settings ask for it (see ZabbixTlsContext: a file that cannot be used
  // raises ZabbixError here, before anything is sent).
  explicit ZabbixSender(ZabbixSettings settings);
  ~ZabbixSender();
  ZabbixSender(const ZabbixSender&) = delete;
  ZabbixSender& operator=(const ZabbixSender&) = delete;

  const ZabbixSettings& settings() const { return settings_; }
  // The most values one request carries.
  std::size_t batch() const { return settings_.batch; }

  // One request carrying `body` (`what` and `value_count` describe it for messages and for an
  // answer without counts); see send_zabbix.
  ZabbixCounts exchange(const std::string& what, std::size_t value_count, std::string&& body);

 private:
  struct Server;
  Server& server();

  ZabbixSettings settings_;
  std::unique_ptr<ZabbixTlsContext> tls_;
  std::unique_ptr<Server> server_;  // resolved at the first send
};

// Sends one item value for `zabbix_host` to the Zabbix server of `zabbix_server`, over a
// connection of its own, and reads the whole answer. The address is resolved at the first send,
// and every address it resolves to is tried in turn; the one that answered is tried first by
// the next send. A request whose body passes 1 MiB is compressed.
// Raises ZabbixError when the server cannot be resolved or reached, breaks the connection or
// closes it before a complete answer, answers something that is not a valid frame with JSON,
// answers "response":"failed", or takes longer than zabbix_call_time(); raises
// TimeoutException at the run's limit. Returns what the server counted, held to the values sent
// (see parse_zabbix_reply): a value it refused (unknown host or item, address not allowed) or
// left uncounted is no failure of the send.
ZabbixCounts send_zabbix(ZabbixSender& zabbix_server, std::string_view zabbix_host,
                         std::string_view key, const FieldValue& value);

// The same for a text that the call may take over: a large value (the discovery document) is
// then never copied but into its frame.
ZabbixCounts send_zabbix(ZabbixSender& zabbix_server, std::string_view zabbix_host,
                         std::string_view key, std::string&& text);

// The same for several values in one request, in the given order (none: nothing is sent).
ZabbixCounts send_zabbix_values(ZabbixSender& zabbix_server, std::string_view zabbix_host,
                                std::span<const ZabbixItemValue> values);

}  // namespace sonda
