#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
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

class ZabbixTlsContext;

// The run's Zabbix servers, as the sends reach them: the settings, and what the run learns on
// the way (for each destination, the node that answered and where a redirect sent it; the TLS
// context). Every destination gets every request, in the order listed; see ZabbixRoute for how
// the nodes of a cluster and the redirects of a Zabbix 7.0 proxy group are followed.
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
  // answer without counts) to every destination; see send_zabbix.
  ZabbixCounts exchange(const std::string& what, std::size_t value_count, std::string&& body);
  // The same for a request already framed (see SenderTextRequest).
  ZabbixCounts exchange(const std::string& what, std::size_t value_count, ZabbixFrame&& frame);

  // The message of a failed delivery when a destination failed and was left out of the later
  // sends (how many of how many, and which); nothing when every destination took every request.
  std::optional<std::string> left_out() const;

 private:
  struct Destinations;

  ZabbixSettings settings_;
  std::unique_ptr<ZabbixTlsContext> tls_;
  std::unique_ptr<Destinations> destinations_;
};

// Sends one item value for `zabbix_host` to the Zabbix servers of `zabbix_server`, over a
// connection of its own to each, and reads each whole answer. An address is resolved at its
// first use, and every address it resolves to is tried in turn; the one that answered is tried
// first by the next send. A request whose body passes 1 MiB is compressed.
// With several destinations, one that fails is named on standard error ("Erro: o destino Zabbix
// ... fica de fora ...") and left out of the later sends, which go on with the others (once none
// is left, sends do nothing and count nothing): what can be delivered is, and the caller ends
// the run as failed afterwards (see ZabbixSender::left_out). The counts are those of the first
// destination that took the request. With one destination, its failure is the send's, and:
// raises ZabbixError when the server cannot be resolved or reached, breaks the connection or
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
