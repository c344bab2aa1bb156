#include "outside/zabbix/zabbix_sender.hpp"

#include <optional>
#include <vector>

#include "console/line_output.hpp"
#include "core/host_port.hpp"
#include "outside/zabbix/zabbix_connection.hpp"
#include "outside/zabbix/zabbix_frame.hpp"
#include "outside/zabbix/zabbix_route.hpp"

namespace sonda {

namespace {

using Clock = std::chrono::steady_clock;

// The destinations of the run, as the address text lists them: one run talks to one list.
struct Destinations {
  std::string text;
  std::vector<ZabbixRoute> routes;
  std::vector<bool> dropped;  // a destination that failed, left out for the rest of the run
};

std::string_view without_blanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Reads "a;b,c" as zabbix_sender reads ServerActive: "," separates destinations, ";" the nodes
// of one cluster.
std::vector<ZabbixRoute> routes_of(const std::string& zabbix_server) {
  const bool list = zabbix_server.find_first_of(",;") != std::string::npos;
  std::vector<ZabbixRoute> routes;
  std::string_view rest = zabbix_server;
  for (;;) {
    const std::size_t comma = rest.find(',');
    std::string_view destination = rest.substr(0, comma);
    std::vector<HostPort> nodes;
    for (;;) {
      const std::size_t semicolon = destination.find(';');
      const std::string_view text =
          list ? without_blanks(destination.substr(0, semicolon)) : destination;
      const auto address = parse_host_port(text, kZabbixTrapperPort);
      if (!address) {
        throw ZabbixError("endereço do servidor Zabbix inválido: \"" +
                          std::string(list ? text : zabbix_server) + "\"");
      }
      nodes.push_back(*address);
      if (semicolon == std::string_view::npos) break;
      destination.remove_prefix(semicolon + 1);
    }
    routes.emplace_back(std::move(nodes));
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return routes;
}

std::optional<Destinations>& cached_destinations() {
  static std::optional<Destinations> cached;
  return cached;
}

Destinations& destinations(const std::string& zabbix_server) {
  std::optional<Destinations>& cached = cached_destinations();
  if (!cached || cached->text != zabbix_server) {
    std::vector<ZabbixRoute> routes = routes_of(zabbix_server);
    const std::size_t count = routes.size();
    cached = Destinations{zabbix_server, std::move(routes), std::vector<bool>(count, false)};
  }
  return *cached;
}

// What a request carries, for messages: its key, or the count and the first and last keys.
std::string described(std::span<const ZabbixItemValue> values) {
  if (values.size() == 1) return values.front().key;
  return std::to_string(values.size()) + " valores (" + values.front().key + " a " +
         values.back().key + ")";
}

ZabbixCounts exchange(const std::string& zabbix_server, const std::string& what,
                      std::size_t value_count, std::string&& body) {
  Destinations& destinations = sonda::destinations(zabbix_server);
  ZabbixFrame frame;
  try {
    frame = frame_request(std::move(body));
  } catch (const ZabbixFrameError& error) {
    throw ZabbixError("o envio de " + what + " ao servidor Zabbix: " + error.what());
  }
  const ZabbixConnectionMaker open = [](std::string where, Clock::time_point call_end,
                                        std::chrono::seconds call_time) {
    return ZabbixConnection(std::move(where), call_end, call_time);
  };
  // Every destination gets the request, in the order listed; the first that takes it gives
  // the counts.
  std::optional<ZabbixCounts> counts;
  for (std::size_t i = 0; i < destinations.routes.size(); ++i) {
    if (destinations.dropped[i]) continue;
    ZabbixRoute& route = destinations.routes[i];
    try {
      const ZabbixRouteAnswer answer = route.exchange(frame, value_count, open);
      const ZabbixReply& reply = answer.reply;
      if (reply.response != "success") {
        throw ZabbixError("servidor Zabbix em " + answer.where + ": o envio de " + what +
                          " foi recusado (" + reply.response + ")" +
                          (reply.info.empty() ? "" : ": " + reply.info));
      }
      if (!counts) counts = reply.counts.value_or(ZabbixCounts{value_count, 0, value_count});
    } catch (const ZabbixError& error) {
      if (destinations.routes.size() == 1) throw;
      // The others go on: what can be delivered is delivered, and the run fails at its end.
      destinations.dropped[i] = true;
      write_error_line("Erro: o destino Zabbix " + route.name() +
                       " fica de fora do resto desta execução: " + error.what());
    }
  }
  return counts.value_or(ZabbixCounts{});
}

}  // namespace

std::optional<std::string> zabbix_destinations_left_out() {
  const std::optional<Destinations>& cached = cached_destinations();
  if (!cached) return std::nullopt;
  std::vector<std::string> names;
  for (std::size_t i = 0; i < cached->routes.size(); ++i) {
    if (cached->dropped[i]) names.push_back(cached->routes[i].name());
  }
  if (names.empty()) return std::nullopt;
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return std::to_string(names.size()) + " de " + std::to_string(cached->routes.size()) +
         " destinos Zabbix " + (names.size() == 1 ? "ficou" : "ficaram") +
         " sem parte dos valores: " + text;
}

std::chrono::seconds zabbix_call_time(std::size_t wire_bytes) {
  return kZabbixCallTimeout +
         std::chrono::seconds((wire_bytes + kZabbixMinThroughput - 1) / kZabbixMinThroughput);
}

std::string sender_data_frame(std::string_view host, std::string_view key,
                              const FieldValue& value) {
  const ZabbixItemValue item{std::string(key), value};
  ZabbixFrame frame = frame_request(sender_data_body(host, std::span(&item, 1)));
  return frame.header + frame.payload;
}

ZabbixCounts send_zabbix(const std::string& zabbix_server, std::string_view zabbix_host,
                         std::string_view key, const FieldValue& value) {
  const ZabbixItemValue item{std::string(key), value};
  return send_zabbix_values(zabbix_server, zabbix_host, std::span(&item, 1));
}

ZabbixCounts send_zabbix(const std::string& zabbix_server, std::string_view zabbix_host,
                         std::string_view key, std::string&& text) {
  return exchange(zabbix_server, std::string(key), 1,
                  sender_data_body(zabbix_host, key, std::move(text)));
}

ZabbixCounts send_zabbix_values(const std::string& zabbix_server, std::string_view zabbix_host,
                                std::span<const ZabbixItemValue> values) {
  if (values.empty()) return {};
  return exchange(zabbix_server, described(values), values.size(),
                  sender_data_body(zabbix_host, values));
}

}  // namespace sonda
