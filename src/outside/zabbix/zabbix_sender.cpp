#include "outside/zabbix/zabbix_sender.hpp"

#include <optional>
#include <vector>

#include "console/line_output.hpp"
#include "outside/zabbix/zabbix_connection.hpp"
#include "outside/zabbix/zabbix_frame.hpp"
#include "outside/zabbix/zabbix_route.hpp"
#include "outside/zabbix/zabbix_tls.hpp"

namespace sonda {

namespace {

using Clock = std::chrono::steady_clock;

// What a request carries, for messages: its key, or the count and the first and last keys.
std::string described(std::span<const ZabbixItemValue> values) {
  if (values.size() == 1) return values.front().key;
  return std::to_string(values.size()) + " valores (" + values.front().key + " a " +
         values.back().key + ")";
}

}  // namespace

// One route per destination, in the order listed.
struct ZabbixSender::Destinations {
  std::vector<ZabbixRoute> routes;
  std::vector<bool> left_out;  // failed once: no later request goes there
};

ZabbixSender::ZabbixSender(ZabbixSettings settings)
    : settings_(std::move(settings)),
      tls_(std::make_unique<ZabbixTlsContext>(settings_.tls)),
      destinations_(std::make_unique<Destinations>()) {
  if (settings_.destinations.empty()) throw InternalError("configuração do Zabbix sem servidor");
  for (const ZabbixDestination& destination : settings_.destinations) {
    if (destination.nodes.empty()) throw InternalError("destino do Zabbix sem servidor");
    destinations_->routes.emplace_back(destination.nodes);
  }
  destinations_->left_out.assign(destinations_->routes.size(), false);
}

ZabbixSender::~ZabbixSender() = default;

ZabbixCounts ZabbixSender::exchange(const std::string& what, std::size_t value_count,
                                    std::string&& body) {
  ZabbixFrame frame;
  try {
    frame = frame_request(std::move(body));
  } catch (const ZabbixFrameError& error) {
    throw ZabbixError("o envio de " + what + " ao servidor Zabbix: " + error.what());
  }
  return exchange(what, value_count, std::move(frame));
}

ZabbixCounts ZabbixSender::exchange(const std::string& what, std::size_t value_count,
                                    ZabbixFrame&& frame) {
  const ZabbixConnectionMaker open = [this](std::string where, Clock::time_point call_end,
                                            std::chrono::seconds call_time) {
    return ZabbixConnection(std::move(where), call_end, call_time, tls_.get());
  };
  Destinations& destinations = *destinations_;
  std::optional<ZabbixCounts> counts;
  for (std::size_t i = 0; i < destinations.routes.size(); ++i) {
    if (destinations.left_out[i]) continue;
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
      destinations.left_out[i] = true;
      write_error_line("Erro: o destino Zabbix " + route.name() +
                       " fica de fora do resto desta execução: " + error.what());
    }
  }
  return counts.value_or(ZabbixCounts{});
}

std::optional<std::string> ZabbixSender::left_out() const {
  const Destinations& destinations = *destinations_;
  std::vector<std::string> names;
  for (std::size_t i = 0; i < destinations.routes.size(); ++i) {
    if (destinations.left_out[i]) names.push_back(destinations.routes[i].name());
  }
  if (names.empty()) return std::nullopt;
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return std::to_string(names.size()) + " de " + std::to_string(destinations.routes.size()) +
         " destinos Zabbix " + (names.size() == 1 ? "ficou" : "ficaram") +
         " sem parte dos valores: " + text;
}

std::chrono::seconds zabbix_call_time(std::size_t wire_bytes) {
  return kZabbixCallTimeout +
         std::chrono::seconds((wire_bytes + kZabbixMinThroughput - 1) / kZabbixMinThroughput);
}

ZabbixCounts send_zabbix(ZabbixSender& zabbix_server, std::string_view zabbix_host,
                         std::string_view key, const FieldValue& value) {
  const ZabbixItemValue item{std::string(key), value};
  return send_zabbix_values(zabbix_server, zabbix_host, std::span(&item, 1));
}

ZabbixCounts send_zabbix(ZabbixSender& zabbix_server, std::string_view zabbix_host,
                         std::string_view key, std::string&& text) {
  return zabbix_server.exchange(std::string(key), 1,
                                sender_data_body(zabbix_host, key, std::move(text)));
}

ZabbixCounts send_zabbix_values(ZabbixSender& zabbix_server, std::string_view zabbix_host,
                                std::span<const ZabbixItemValue> values) {
  if (values.empty()) return {};
  return zabbix_server.exchange(described(values), values.size(),
                                sender_data_body(zabbix_host, values));
}

}  // namespace sonda
