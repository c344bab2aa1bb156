#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/host_port.hpp"
#include "outside/net/name_lookup.hpp"
#include "outside/zabbix/zabbix_connection.hpp"
#include "outside/zabbix/zabbix_frame.hpp"
#include "outside/zabbix/zabbix_reply.hpp"

namespace sonda {

// Most redirects one request follows: a proxy of a Zabbix 7.0 proxy group names the one that
// monitors the host, which answers; more hops than a few mean the group is not settled.
inline constexpr int kZabbixMaxRedirects = 3;

// Opens the connection of one exchange: `where` names the server in messages, and the exchange
// must be over within `call_time`, at `call_end`.
using ZabbixConnectionMaker = std::function<ZabbixConnection(
    std::string where, std::chrono::steady_clock::time_point call_end,
    std::chrono::seconds call_time)>;

// What one destination answered to a request, and who answered it ("host:port").
struct ZabbixRouteAnswer {
  std::string where;
  ZabbixReply reply;
};

// One destination of the values: a Zabbix server, or the nodes of one cluster in the order
// listed. Until a node has answered, each is tried in turn: one that refuses the connection, or
// does not accept it within its share of the time left, is passed over. The node that accepted
// a connection then serves the rest of the run, whatever becomes of it: going on to another
// node after a request may have been taken would deliver its values twice. An answer that
// redirects (a Zabbix 7.0 proxy group) sends the same request again to the address it names,
// which then serves the next requests too, until it redirects or resets them itself, or refuses
// a later connection (nothing was sent to it then: the listed node takes the request again).
class ZabbixRoute {
 public:
  // `nodes` is never empty.
  explicit ZabbixRoute(std::vector<HostPort> nodes);

  // Sends `frame` and returns the answer that is not a redirect, whatever its "response".
  // Raises ZabbixError when no node can be resolved or reached, when the connection breaks, the
  // answer is no frame with JSON or a "response", or a redirect goes to an invalid address,
  // back to an address the request already reached, or beyond kZabbixMaxRedirects hops; raises
  // TimeoutException at the run's limit. With one node, every failure and its text are those of
  // a single server.
  // `value_count` is the number of values the request carries, for the answer's counts.
  ZabbixRouteAnswer exchange(const ZabbixFrame& frame, std::uint64_t value_count,
                             const ZabbixConnectionMaker& open);

  // The destination as listed: its nodes, host:port, joined by ";".
  const std::string& name() const { return name_; }

 private:
  struct Node {
    HostPort address;
    std::optional<LookupResult> found;  // looked up once, at its first use
    std::size_t preferred = 0;          // the endpoint that answered last
  };
  struct Answer {
    std::string where;
    std::string json;
  };

  Answer send_to_nodes(const ZabbixFrame& frame, const ZabbixConnectionMaker& open);
  // Sends to `node` alone, as to a single server.
  Answer send_to_node(Node& node, const ZabbixFrame& frame, const ZabbixConnectionMaker& open);
  // Sends to the redirect's address; nothing when it was `remembered` from an earlier request
  // and refuses the connection, before anything was sent.
  std::optional<Answer> send_to_redirect(const ZabbixFrame& frame,
                                         const ZabbixConnectionMaker& open, bool remembered);

  std::vector<Node> nodes_;
  std::string name_;
  std::optional<std::size_t> answered_;  // the node that serves the run
  std::optional<Node> redirect_;         // where the last redirect sent the requests
};

}  // namespace sonda
