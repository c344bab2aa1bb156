#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/unique_fd.hpp"
#include "outside/net/name_lookup.hpp"
#include "outside/net/tls_session.hpp"
#include "outside/zabbix/zabbix_sender.hpp"
#include "outside/zabbix/zabbix_tls.hpp"

namespace sonda {

// The connection of one exchange with the Zabbix server. Everything the sender does on the
// network goes through these four calls (connect, write_all, read_some, close_after_answer),
// over TLS when its TLS context asks for it (see zabbix_tls.hpp), never falling back to
// clear text. Every wait ends at the call's end or at the run's
// limit (TimeoutException), whichever comes first. Failures are ZabbixError, their text
// prefixed with "servidor Zabbix em WHERE: ".
class ZabbixConnection {
 public:
  using Clock = std::chrono::steady_clock;

  // `tls`, when given, outlives the connection; without it the connection is in clear text.
  ZabbixConnection(std::string where, Clock::time_point call_end, std::chrono::seconds call_time,
                   const ZabbixTlsContext* tls = nullptr)
      : where_(std::move(where)), call_end_(call_end), call_time_(call_time), tls_context_(tls) {}

  // Connects to the endpoints in turn, starting at `first`, as zabbix_sender does: an address
  // that refuses, cannot be reached or stays silent for its share of the call's time left (the
  // time left split among the addresses not tried yet) gives way to the next one, and so does
  // a family the machine cannot open a socket for. Then starts TLS when the settings
  // ask for it. Returns the index of the endpoint that answered; raises ZabbixError naming each
  // address's failure when none did, or what to check when the TLS handshake fails.
  std::size_t connect(std::span<const SocketAddress> endpoints, std::size_t first);

  // The socket half of connect, with the addresses' shares taken from the time left until
  // `until` (at most the call's end): the index of the endpoint that answered, or nothing, each
  // address's failure then added to `failures` (named by address when there are several).
  std::optional<std::size_t> connect_socket(std::span<const SocketAddress> endpoints,
                                            std::size_t first, Clock::time_point until,
                                            std::vector<std::string>& failures);

  // The TLS half of connect, on the connected socket: nothing in clear text. Raises ZabbixError
  // saying what to check when the handshake fails.
  void start_tls();

  // Writes the parts one after the other, in one system call when the socket takes them all.
  void write_all(std::span<const std::string_view> parts);

  // Waits for bytes of the answer and reads up to `size` of them; 0 when the server closed.
  std::size_t read_some(char* into, std::size_t size);

  // Ends the connection once the whole answer has been read, abortively: no side keeps a
  // TIME_WAIT for it, so a million exchanges cannot use up the local ports, however late the
  // server closes. Only for a connection whose exchange is complete: nothing may be in flight.
  void close_after_answer();

  // A ZabbixError about this exchange.
  [[nodiscard]] ZabbixError fail(const std::string& what) const;

  // What to check when the connection breaks after a TLS handshake (empty in clear text).
  std::string tls_advice() const;

 private:
  // Waits for `events` until `until` (false when that time came first) or raises at the call's
  // end or the run's limit.
  bool wait(short events, Clock::time_point until);

  std::string where_;
  Clock::time_point call_end_;
  std::chrono::seconds call_time_;
  const ZabbixTlsContext* tls_context_;
  UniqueFd fd_;
  std::unique_ptr<TlsSession> tls_;  // declared after the socket: ends before it
};

}  // namespace sonda
