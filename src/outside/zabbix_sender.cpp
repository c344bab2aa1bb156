#include "outside/zabbix_sender.hpp"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "console/value_text.hpp"
#include "core/errno_text.hpp"
#include "core/host_port.hpp"
#include "core/unique_fd.hpp"
#include "outside/name_lookup.hpp"
#include "outside/runtime_limit.hpp"
#include "outside/socket_wait.hpp"
#include "outside/zabbix_refusals.hpp"
#include "outside/zabbix_tls.hpp"

namespace sonda {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::string_view kSignature = "ZBXD";
constexpr unsigned char kFlagProtocol = 0x01;
constexpr unsigned char kFlagCompressed = 0x02;
constexpr unsigned char kFlagLarge = 0x04;
constexpr std::size_t kMaxAnswer = 16 * 1024 * 1024;
constexpr std::string_view kAddressAdvice =
    " (confira o endereço do servidor: SONDA_ZABBIX_SERVER ou o ServerActive do agente)";
// After a complete answer, the server closes the connection; waiting for that close makes the
// server, not the probe, keep the closed connection's TIME_WAIT, so a million sends do not use
// up the probe's local ports.
constexpr auto kCloseWait = 200ms;

// The last server resolved: one run talks to one server.
struct ResolvedServer {
  std::string text;
  std::string where;  // host:port for messages
  std::vector<SocketAddress> endpoints;
  bool server_closes = true;  // false once a server kept a connection open after answering
};

ResolvedServer& resolve(const std::string& zabbix_server) {
  static std::optional<ResolvedServer> cached;
  if (cached && cached->text == zabbix_server) return *cached;

  const auto address = parse_host_port(zabbix_server, kZabbixTrapperPort);
  if (!address) {
    throw ZabbixError("endereço do servidor Zabbix inválido: \"" + zabbix_server + "\"");
  }
  LookupResult found =
      look_up(address->host, std::to_string(address->port),
              std::chrono::duration_cast<std::chrono::milliseconds>(kZabbixCallTimeout));
  if (!found.failure.empty()) {
    throw ZabbixError("não foi possível resolver o servidor Zabbix " + address->host + ": " +
                      found.failure + std::string(kAddressAdvice));
  }
  ResolvedServer resolved{zabbix_server, address->text(), std::move(found.addresses), true};
  cached = std::move(resolved);
  return *cached;
}

// One call's connection, every wait bounded by the call's own time-out and the run's limit.
class Exchange {
 public:
  explicit Exchange(const ResolvedServer& server)
      : server_(server), call_end_(Clock::now() + kZabbixCallTimeout) {}

  // Connects, then starts TLS when the settings ask for it; never falls back to clear text.
  void connect() {
    connect_socket();
    try {
      tls_ = start_zabbix_tls(fd_.get(), [this](short events) { wait(events); });
    } catch (const TlsError& error) {
      throw fail(error.what());
    }
  }

  void connect_socket() {
    std::string failure = "nenhum endereço";
    for (const SocketAddress& endpoint : server_.endpoints) {
      fd_.reset(
          ::socket(endpoint.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
      if (!fd_) throw fail("não foi possível criar o socket: " + errno_text());
      const int no_delay = 1;
      ::setsockopt(fd_.get(), IPPROTO_TCP, TCP_NODELAY, &no_delay, sizeof no_delay);
      if (::connect(fd_.get(), reinterpret_cast<const sockaddr*>(&endpoint.address),
                    endpoint.length) == 0) {
        return;
      }
      if (errno == EINPROGRESS) {
        wait(POLLOUT);
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(fd_.get(), SOL_SOCKET, SO_ERROR, &error, &length);
        if (error == 0) return;
        errno = error;
      }
      failure = errno_text();
    }
    throw fail("não foi possível conectar: " + failure + std::string(kAddressAdvice));
  }

  // Sends the parts one after the other, in one system call when the socket takes them all.
  void send(std::string_view first, std::string_view second) {
    if (tls_) {
      send_over_tls(first);
      send_over_tls(second);
      return;
    }
    std::string_view parts[] = {first, second};
    std::size_t next = 0;
    while (next < 2) {
      iovec vectors[2];
      std::size_t count = 0;
      for (std::size_t i = next; i < 2; ++i) {
        vectors[count++] = {const_cast<char*>(parts[i].data()), parts[i].size()};
      }
      msghdr message{};
      message.msg_iov = vectors;
      message.msg_iovlen = count;
      const ssize_t n = ::sendmsg(fd_.get(), &message, MSG_NOSIGNAL);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        wait(POLLOUT);
        continue;
      }
      if (n < 0) throw fail("a conexão caiu durante o envio: " + errno_text());
      auto written = static_cast<std::size_t>(n);
      while (next < 2 && written >= parts[next].size()) written -= parts[next++].size();
      if (next < 2) parts[next].remove_prefix(written);
    }
  }

  // Takes the next `count` bytes of the answer; false when the server closed the connection
  // first. Reads in large pieces: a whole answer usually arrives in one.
  bool receive(std::size_t count, std::string& into) {
    while (inbox_.size() - taken_ < count) {
      if (!fill()) return false;
    }
    into.append(inbox_, taken_, count);
    taken_ += count;
    return true;
  }

  // Waits, briefly, for the server to close the connection after its answer.
  bool await_close() {
    if (inbox_.size() > taken_) return false;  // more than one answer: not a Zabbix server
    if (tls_) return await_tls_close();
    char extra;
    for (;;) {
      const ssize_t n = ::recv(fd_.get(), &extra, 1, 0);
      if (n == 0) return true;
      if (n > 0 || (errno != EAGAIN && errno != EINTR)) return false;
      if (wait_for_socket(fd_.get(), POLLIN, Clock::now() + kCloseWait) != SocketWait::ready) {
        return false;
      }
    }
  }

  // The server closed the connection before its answer; over TLS, likely a refusal of the
  // probe's certificate.
  ZabbixError closed_early() const {
    return fail("a conexão foi fechada antes da resposta" + (tls_ ? zabbix_tls_advice() : ""));
  }

  ZabbixError fail(const std::string& what) const {
    return ZabbixError("servidor Zabbix em " + server_.where + ": " + what);
  }

 private:
  void wait(short events) {
    switch (wait_for_socket(fd_.get(), events, call_end_)) {
      case SocketWait::ready:
        return;
      case SocketWait::call_time_over:
        throw fail("sem resposta em " + std::to_string(kZabbixCallTimeout.count()) + " segundos");
      case SocketWait::failed:
        throw fail("falha ao aguardar: " + errno_text());
    }
  }

  void send_over_tls(std::string_view data) {
    try {
      while (!data.empty()) data.remove_prefix(tls_->write_some(data));
    } catch (const TlsError& error) {
      throw fail("a conexão TLS caiu durante o envio: " + std::string(error.what()) +
                 zabbix_tls_advice());
    }
  }

  bool await_tls_close() {
    if (tls_->pending()) return false;
    if (wait_for_socket(fd_.get(), POLLIN, Clock::now() + kCloseWait) != SocketWait::ready) {
      return false;
    }
    try {
      char extra;
      return tls_->read_some(&extra, 1) == 0;
    } catch (const TlsError&) {
      return false;
    }
  }

  // Reads what has arrived (waiting for something first); false at the end of the stream.
  bool fill() {
    char buffer[65536];
    if (tls_) {
      std::size_t n = 0;
      try {
        n = tls_->read_some(buffer, sizeof buffer);
      } catch (const TlsError& error) {
        throw fail("a conexão TLS caiu durante a resposta: " + std::string(error.what()) +
                   zabbix_tls_advice());
      }
      inbox_.append(buffer, n);
      return n > 0;
    }
    for (;;) {
      const ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, 0);
      if (n > 0) {
        inbox_.append(buffer, static_cast<std::size_t>(n));
        return true;
      }
      if (n == 0) return false;
      if (errno != EAGAIN && errno != EINTR) {
        throw fail("a conexão caiu durante a resposta: " + errno_text());
      }
      wait(POLLIN);
    }
  }

  const ResolvedServer& server_;
  Clock::time_point call_end_;
  UniqueFd fd_;
  std::unique_ptr<TlsSession> tls_;  // ends before the socket it runs on
  std::string inbox_;
  std::size_t taken_ = 0;
};

std::uint64_t little_endian(std::string_view bytes) {
  std::uint64_t value = 0;
  for (std::size_t i = bytes.size(); i-- > 0;) {
    value = value << 8 | static_cast<unsigned char>(bytes[i]);
  }
  return value;
}

void append_little_endian(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i) & 0xFF));
}

nlohmann::ordered_json wire_value(const FieldValue& value) {
  struct Visitor {
    nlohmann::ordered_json operator()(const Absent&) const { return nullptr; }
    nlohmann::ordered_json operator()(std::int64_t v) const { return value_text(v); }
    nlohmann::ordered_json operator()(double v) const { return real_text(v); }
    nlohmann::ordered_json operator()(std::string_view v) const { return std::string(v); }
    nlohmann::ordered_json operator()(DateTime) const {
      throw InternalError("uma data não tem forma de valor do Zabbix");
    }
  };
  return std::visit(Visitor{}, value);
}

// Reads the answer frame and returns its JSON text.
std::string read_answer(Exchange& exchange) {
  std::string header;
  if (!exchange.receive(5, header)) throw exchange.closed_early();
  if (std::string_view(header).substr(0, 4) != kSignature) {
    throw exchange.fail("resposta inválida (sem o cabeçalho ZBXD)");
  }
  const auto flags = static_cast<unsigned char>(header[4]);
  if (!(flags & kFlagProtocol) || (flags & kFlagCompressed)) {
    throw exchange.fail("resposta com marcadores não suportados");
  }
  const std::size_t field = (flags & kFlagLarge) ? 8 : 4;
  std::string lengths;
  if (!exchange.receive(2 * field, lengths)) {
    throw exchange.fail("a conexão foi fechada no meio da resposta");
  }
  const std::uint64_t length = little_endian(std::string_view(lengths).substr(0, field));
  if (length > kMaxAnswer) throw exchange.fail("resposta grande demais");
  std::string body;
  if (!exchange.receive(static_cast<std::size_t>(length), body)) {
    throw exchange.fail("a conexão foi fechada no meio da resposta");
  }
  return body;
}

std::string sender_data_body(std::string_view host, std::string_view key,
                             nlohmann::ordered_json&& value) {
  nlohmann::ordered_json request;
  request["request"] = "sender data";
  request["data"] = nlohmann::ordered_json::array();
  nlohmann::ordered_json& item = request["data"].emplace_back();
  item["host"] = std::string(host);
  item["key"] = std::string(key);
  item["value"] = std::move(value);
  // Bytes that are not UTF-8 become U+FFFD rather than failing the send.
  return request.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string frame_header(std::size_t body_size) {
  std::string header(kSignature);
  header.push_back(static_cast<char>(kFlagProtocol));
  append_little_endian(header, static_cast<std::uint32_t>(body_size));
  append_little_endian(header, 0);
  return header;
}

void exchange_value(const std::string& zabbix_server, std::string_view key,
                    const std::string& body) {
  if (body.size() > UINT32_MAX) {
    throw ZabbixError("o valor de " + std::string(key) + " passa de 4 GiB, o máximo de um envio");
  }
  ResolvedServer& server = resolve(zabbix_server);
  Exchange exchange(server);
  exchange.connect();
  exchange.send(frame_header(body.size()), body);
  const std::string answer = read_answer(exchange);

  const auto json = nlohmann::json::parse(answer, nullptr, false);
  if (!json.is_object() || !json.contains("response") || !json["response"].is_string()) {
    throw exchange.fail("resposta sem o campo response");
  }
  const std::string response = json["response"].get<std::string>();
  if (response != "success") {
    std::string info = json.contains("info") && json["info"].is_string()
                           ? ": " + json["info"].get<std::string>()
                           : "";
    throw exchange.fail("o envio de " + std::string(key) + " foi recusado (" + response + ")" +
                        info);
  }
  if (json.contains("info") && json["info"].is_string()) {
    report_failed_values(server.where, key, json["info"].get<std::string>());
  }
  if (server.server_closes && !exchange.await_close()) server.server_closes = false;
}

}  // namespace

std::string sender_data_frame(std::string_view host, std::string_view key,
                              const FieldValue& value) {
  const std::string body = sender_data_body(host, key, wire_value(value));
  return frame_header(body.size()) + body;
}

void send_zabbix(const std::string& zabbix_server, std::string_view zabbix_host,
                 std::string_view key, const FieldValue& value) {
  exchange_value(zabbix_server, key, sender_data_body(zabbix_host, key, wire_value(value)));
}

void send_zabbix(const std::string& zabbix_server, std::string_view zabbix_host,
                 std::string_view key, std::string&& text) {
  std::string body = sender_data_body(zabbix_host, key, nlohmann::ordered_json(std::move(text)));
  exchange_value(zabbix_server, key, body);
}

}  // namespace sonda
