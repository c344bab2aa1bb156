#include "outside/zabbix/zabbix_route.hpp"

#include <algorithm>

#include "outside/zabbix/zabbix_sender.hpp"

namespace sonda {

namespace {

using Clock = std::chrono::steady_clock;

ZabbixError failure_at(const std::string& where, const std::string& what) {
  return ZabbixError("servidor Zabbix em " + where + ": " + what);
}

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

// Writes the request on a connected connection and reads the answer.
std::string converse(ZabbixConnection& connection, const ZabbixFrame& frame) {
  const std::string_view parts[] = {frame.header, frame.payload};
  connection.write_all(parts);
  std::string answer = read_answer(connection);
  connection.close_after_answer();
  return answer;
}

std::chrono::seconds call_time_of(const ZabbixFrame& frame) {
  return zabbix_call_time(frame.header.size() + frame.payload.size());
}

const LookupResult& looked_up(std::optional<LookupResult>& found, const HostPort& address) {
  if (!found) {
    found = look_up(address.host, std::to_string(address.port),
                    std::chrono::duration_cast<std::chrono::milliseconds>(kZabbixCallTimeout));
  }
  return *found;
}

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
  std::string text;
  for (const std::string& part : parts) {
    if (!text.empty()) text += separator;
    text += part;
  }
  return text;
}

}  // namespace

ZabbixRoute::ZabbixRoute(std::vector<HostPort> nodes) {
  for (HostPort& address : nodes) {
    name_ += (name_.empty() ? "" : ";") + address.text();
    nodes_.push_back(Node{std::move(address), std::nullopt, 0});
  }
}

ZabbixRoute::Answer ZabbixRoute::send_to_node(Node& node, const ZabbixFrame& frame,
                                              const ZabbixConnectionMaker& open) {
  const LookupResult& found = looked_up(node.found, node.address);
  if (!found.failure.empty()) {
    throw ZabbixError("não foi possível resolver o servidor Zabbix " + node.address.host + ": " +
                      found.failure + std::string(kZabbixAddressAdvice));
  }
  const auto call_time = call_time_of(frame);
  const std::string where = node.address.text();
  ZabbixConnection connection = open(where, Clock::now() + call_time, call_time);
  node.preferred = connection.connect(found.addresses, node.preferred);
  return {where, converse(connection, frame)};
}

ZabbixRoute::Answer ZabbixRoute::send_to_nodes(const ZabbixFrame& frame,
                                               const ZabbixConnectionMaker& open) {
  if (nodes_.size() == 1) return send_to_node(nodes_.front(), frame, open);
  if (answered_) return send_to_node(nodes_[*answered_], frame, open);

  // Each node in turn, with its share of the call's time to accept the connection; the node
  // that accepts it has the whole call's time for the exchange.
  const auto call_time = call_time_of(frame);
  const auto connect_end = Clock::now() + call_time;
  std::vector<std::string> failures;
  for (std::size_t i = 0; i < nodes_.size(); ++i) {
    Node& node = nodes_[i];
    const std::string where = node.address.text();
    const LookupResult& found = looked_up(node.found, node.address);
    if (!found.failure.empty()) {
      failures.push_back(where + ": não foi possível resolver: " + found.failure);
      continue;
    }
    ZabbixConnection connection = open(where, Clock::now() + call_time, call_time);
    const auto share_end =
        Clock::now() + (connect_end - Clock::now()) / static_cast<long>(nodes_.size() - i);
    std::vector<std::string> notes;
    const auto index = connection.connect_socket(found.addresses, node.preferred, share_end, notes);
    if (!index) {
      failures.push_back(where + ": " + joined(notes, "; "));
      continue;
    }
    answered_ = i;
    node.preferred = *index;
    connection.start_tls();
    return {where, converse(connection, frame)};
  }
  throw failure_at(name_, "nenhum nó aceitou a conexão: " + joined(failures, "; ") +
                              std::string(kZabbixAddressAdvice));
}

std::optional<ZabbixRoute::Answer> ZabbixRoute::send_to_redirect(const ZabbixFrame& frame,
                                                                 const ZabbixConnectionMaker& open,
                                                                 bool remembered) {
  Node& node = *redirect_;
  const std::string where = node.address.text();
  const LookupResult& found = looked_up(node.found, node.address);
  if (!found.failure.empty()) {
    throw failure_at(
        where, "o endereço para onde o Zabbix redirecionou não foi resolvido: " + found.failure);
  }
  const auto call_time = call_time_of(frame);
  ZabbixConnection connection = open(where, Clock::now() + call_time, call_time);
  std::vector<std::string> notes;
  const auto index =
      connection.connect_socket(found.addresses, node.preferred, Clock::now() + call_time, notes);
  if (!index) {
    if (remembered) return std::nullopt;
    throw failure_at(where,
                     "não foi possível conectar ao endereço para onde o Zabbix "
                     "redirecionou: " +
                         joined(notes, "; "));
  }
  node.preferred = *index;
  connection.start_tls();
  return Answer{where, converse(connection, frame)};
}

ZabbixRouteAnswer ZabbixRoute::exchange(const ZabbixFrame& frame, std::uint64_t value_count,
                                        const ZabbixConnectionMaker& open) {
  std::vector<std::string> reached;
  for (int hop = 0;; ++hop) {
    std::optional<Answer> answer;
    if (redirect_) {
      answer = send_to_redirect(frame, open, hop == 0);
      if (!answer) redirect_.reset();  // gone since: the listed nodes take the request
    }
    if (!answer) answer = send_to_nodes(frame, open);
    reached.push_back(answer->where);

    auto reply = parse_zabbix_reply(answer->json, value_count);
    if (!reply) throw failure_at(answer->where, "resposta sem o campo response");
    if (!reply->redirect) return {std::move(answer->where), std::move(*reply)};

    const ZabbixRedirect& redirect = *reply->redirect;
    std::string next;
    if (redirect.reset) {
      redirect_.reset();
      next = nodes_[answered_.value_or(0)].address.text();
    } else {
      const auto address = parse_host_port(redirect.address, kZabbixTrapperPort);
      if (!address) {
        throw failure_at(answer->where, "redirecionamento para um endereço inválido: \"" +
                                            redirect.address + "\"");
      }
      next = address->text();
      if (!redirect_ || redirect_->address.text() != next)
        redirect_ = Node{*address, std::nullopt, 0};
    }
    if (std::find(reached.begin(), reached.end(), next) != reached.end()) {
      throw failure_at(answer->where, "laço de redirecionamento: " + joined(reached, " -> ") +
                                          " -> " + next +
                                          " (confira o grupo de proxies no Zabbix)");
    }
    if (hop + 1 > kZabbixMaxRedirects) {
      throw failure_at(answer->where,
                       "mais de " + std::to_string(kZabbixMaxRedirects) +
                           " redirecionamentos para um só envio: " + joined(reached, " -> ") +
                           " -> " + next + " (confira o grupo de proxies no Zabbix)");
    }
  }
}

}  // namespace sonda
