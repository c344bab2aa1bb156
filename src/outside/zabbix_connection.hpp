#pragma once

#include <chrono>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "outside/name_lookup.hpp"
#include "outside/unique_fd.hpp"
#include "outside/zabbix_sender.hpp"

namespace sonda {

// The socket of one exchange with the Zabbix server. Everything the sender does on the network
// goes through these four calls (connect, write_all, read_some, close_after_answer), so that an
// encrypted stream can stand in for them. Every wait ends at the call's end or at the run's
// limit (TimeoutException), whichever comes first. Failures are ZabbixError, their text
// prefixed with "servidor Zabbix em WHERE: ".
class ZabbixConnection {
 public:
  using Clock = std::chrono::steady_clock;

  ZabbixConnection(std::string where, Clock::time_point call_end, std::chrono::seconds call_time)
      : where_(std::move(where)), call_end_(call_end), call_time_(call_time) {}

  // Connects to the endpoints in turn, starting at `first`, as zabbix_sender does: an address
  // that refuses, cannot be reached or stays silent for its share of the call's time left (the
  // time left split among the addresses not tried yet) gives way to the next one, and so does
  // a family the machine cannot open a socket for. Returns the index of the endpoint that
  // answered; raises ZabbixError naming each address's failure when none did.
  std::size_t connect(std::span<const SocketAddress> endpoints, std::size_t first);

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

 private:
  // Waits for `events` until `until` (false when that time came first) or raises at the call's
  // end or the run's limit.
  bool wait(short events, Clock::time_point until);

  std::string where_;
  Clock::time_point call_end_;
  std::chrono::seconds call_time_;
  UniqueFd fd_;
};

}  // namespace sonda
