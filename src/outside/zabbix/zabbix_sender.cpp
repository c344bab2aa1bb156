#include "outside/zabbix/zabbix_sender.hpp"

#include <optional>
#include <vector>

#include "core/host_port.hpp"
#include "outside/net/name_lookup.hpp"
#include "outside/zabbix/zabbix_connection.hpp"
#include "outside/zabbix/zabbix_frame.hpp"
#include "outside/zabbix/zabbix_tls.hpp"

namespace sonda {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kAddressAdvice =
    " (confira o endereço do servidor: SONDA_ZABBIX_SERVER ou o ServerActive do agente)";

}  // namespace

// The server the values go to, once resolved.
struct ZabbixSender::Server {
  std::string where;  // host:port for messages
  std::vector<SocketAddress> endpoints;
  std::size_t preferred = 0;  // the endpoint that answered last
};

ZabbixSender::ZabbixSender(ZabbixSettings settings)
    : settings_(std::move(settings)), tls_(std::make_unique<ZabbixTlsContext>(settings_.tls)) {
  if (settings_.destinations.empty() || settings_.destinations.front().nodes.empty()) {
    throw InternalError("configuração do Zabbix sem servidor");
  }
}

ZabbixSender::~ZabbixSender() = default;

ZabbixSender::Server& ZabbixSender::server() {
  if (server_) return *server_;
  const HostPort& address = settings_.destinations.front().nodes.front();
  LookupResult found =
      look_up(address.host, std::to_string(address.port),
              std::chrono::duration_cast<std::chrono::milliseconds>(kZabbixCallTimeout));
  if (!found.failure.empty()) {
    throw ZabbixError("não foi possível resolver o servidor Zabbix " + address.host + ": " +
                      found.failure + std::string(kAddressAdvice));
  }
  server_ = std::make_unique<Server>(Server{address.text(), std::move(found.addresses), 0});
  return *server_;
}

namespace {

// Reads one whole answer frame and returns its JSON text.
std::string read_answer(ZabbixConnection& connection) {
  std::string inbox;
  std::optional<std::size_t> size;
  char buffer[65536];
  try {
    while (!size || inbox.size() < *size) {
      const std::size_t n = connection.read_some(buffer, sizeof buffer);
      if (n == 0) {
        // Over TLS, a close before the answer is most often the server refusing the probe's
        // certificate, which it judges only after the handshake.
        throw connection.fail((inbox.empty() ? "a conexão foi fechada antes da resposta"
                                             : "a conexão foi fechada no meio da resposta") +
                              connection.tls_advice());
      }
      inbox.append(buffer, n);
      if (!size) size = answer_frame_size(inbox);
    }
    inbox.resize(*size);  // anything after the answer is no concern of this exchange
    return answer_payload(inbox);
  } catch (const ZabbixFrameError& error) {
    throw connection.fail(error.what());
  }
}

// What a request carries, for messages: its key, or the count and the first and last keys.
std::string described(std::span<const ZabbixItemValue> values) {
  if (values.size() == 1) return values.front().key;
  return std::to_string(values.size()) + " valores (" + values.front().key + " a " +
         values.back().key + ")";
}

}  // namespace

ZabbixCounts ZabbixSender::exchange(const std::string& what, std::size_t value_count,
                                    std::string&& body) {
  Server& server = this->server();
  ZabbixFrame frame;
  try {
    frame = frame_request(std::move(body));
  } catch (const ZabbixFrameError& error) {
    throw ZabbixError("o envio de " + what + " ao servidor Zabbix: " + error.what());
  }
  const auto call_time = zabbix_call_time(frame.header.size() + frame.payload.size());
  ZabbixConnection connection(server.where, Clock::now() + call_time, call_time, tls_.get());
  server.preferred = connection.connect(server.endpoints, server.preferred);
  const std::string_view parts[] = {frame.header, frame.payload};
  connection.write_all(parts);
  const std::string answer = read_answer(connection);
  connection.close_after_answer();

  const auto reply = parse_zabbix_reply(answer, value_count);
  if (!reply) throw connection.fail("resposta sem o campo response");
  if (reply->response != "success") {
    throw connection.fail("o envio de " + what + " foi recusado (" + reply->response + ")" +
                          (reply->info.empty() ? "" : ": " + reply->info));
  }
  return reply->counts.value_or(ZabbixCounts{value_count, 0, value_count});
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
