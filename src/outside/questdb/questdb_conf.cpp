#include "outside/questdb/questdb_conf.hpp"

#include <algorithm>
#include <charconv>
#include <set>

#include "core/host_port.hpp"

namespace sonda {

namespace {

[[noreturn]] void malformed(std::size_t position, const std::string& what) {
  throw IngressError("configuração do QuestDB inválida (posição " + std::to_string(position) +
                     "): " + what);
}

template <typename Number>
std::optional<Number> parse_number(std::string_view text) {
  Number value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

void set_address(QuestDbConf& conf, std::string_view addr, std::size_t position) {
  HostPortProblem problem = HostPortProblem::none;
  const auto address = parse_host_port(addr, kQuestDbHttpPort, &problem);
  if (!address) {
    malformed(position,
              std::string(problem == HostPortProblem::port ? "porta inválida" : "host inválido") +
                  " no endereço \"" + std::string(addr) + "\"");
  }
  conf.address = *address;
}

std::chrono::milliseconds milliseconds(std::string_view key, std::string_view value,
                                       std::size_t position) {
  const auto number = parse_number<std::uint64_t>(value);
  if (!number) malformed(position, std::string(key) + " deve ser um número de milissegundos");
  return std::chrono::milliseconds(*number);
}

std::uint64_t count(std::string_view key, std::string_view value, std::size_t position) {
  const auto number = parse_number<std::uint64_t>(value);
  if (!number) malformed(position, std::string(key) + " deve ser um número inteiro");
  return *number;
}

void apply(QuestDbConf& conf, std::string_view key, std::string value, std::size_t position) {
  if (key == "addr") {
    set_address(conf, value, position);
  } else if (key == "username") {
    conf.username = std::move(value);
  } else if (key == "password") {
    conf.password = std::move(value);
  } else if (key == "token") {
    conf.token = std::move(value);
  } else if (key == "request_timeout") {
    conf.request_timeout = milliseconds(key, value, position);
    if (conf.request_timeout.count() == 0) malformed(position, "request_timeout deve ser positivo");
  } else if (key == "retry_timeout") {
    conf.retry_timeout = milliseconds(key, value, position);
  } else if (key == "request_min_throughput") {
    conf.request_min_throughput = count(key, value, position);
  } else if (key == "tls_verify") {
    if (value != "on" && value != "unsafe_off")
      malformed(position, "tls_verify aceita on ou unsafe_off");
    conf.tls_verify = value == "on";
  } else if (key == "tls_roots") {
    conf.tls_roots = std::move(value);
  } else if (key == "tls_ca") {
    if (value != "os_roots" && value != "webpki_roots" && value != "webpki_and_os_roots" &&
        value != "pem_file") {
      malformed(position, "tls_ca desconhecido");
    }
  } else if (key == "auto_flush") {
    if (value != "on" && value != "off") malformed(position, "auto_flush aceita on ou off");
    if (value == "off") conf.auto_flush_rows = conf.auto_flush_bytes = 0;
  } else if (key == "auto_flush_rows") {
    conf.auto_flush_rows = value == "off" ? 0 : count(key, value, position);
  } else if (key == "auto_flush_bytes") {
    conf.auto_flush_bytes = value == "off" ? 0 : count(key, value, position);
  } else if (key == "protocol_version") {
    if (value != "1" && value != "auto") {
      malformed(position, "este cliente fala apenas a versão 1 do protocolo");
    }
  }
  // Other keys belong to other clients or transports and are ignored.
}

}  // namespace

QuestDbConf parse_questdb_conf(std::string_view text) {
  QuestDbConf conf;
  const auto separator = text.find("::");
  if (separator == std::string_view::npos) malformed(0, "falta o esquema (http:: ou https::)");
  const std::string_view schema = text.substr(0, separator);
  if (schema == "http") {
    conf.transport = QuestDbTransport::http;
  } else if (schema == "https") {
    conf.transport = QuestDbTransport::https;
  } else {
    malformed(0, "esquema \"" + std::string(schema) + "\" não suportado (use http ou https)");
  }

  std::set<std::string, std::less<>> seen;
  std::size_t i = separator + 2;
  while (i < text.size()) {
    const std::size_t key_start = i;
    while (i < text.size() && text[i] != '=' && text[i] != ';') ++i;
    const std::string_view key = text.substr(key_start, i - key_start);
    if (i == text.size() || text[i] != '=') malformed(key_start, "chave sem valor");
    if (key.empty() || !std::all_of(key.begin(), key.end(), [](char c) {
          return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
        })) {
      malformed(key_start, "nome de chave inválido");
    }
    if (!seen.emplace(key).second) malformed(key_start, "chave repetida: " + std::string(key));
    ++i;  // the '='
    std::string value;
    while (i < text.size()) {
      if (text[i] == ';') {
        if (i + 1 < text.size() && text[i + 1] == ';') {
          value.push_back(';');
          i += 2;
          continue;
        }
        break;
      }
      value.push_back(text[i++]);
    }
    apply(conf, key, std::move(value), key_start);
    if (i < text.size()) ++i;  // the ';' that ends the value
  }

  if (!seen.contains("addr")) malformed(text.size(), "falta a chave addr");
  if (conf.username.has_value() != conf.password.has_value()) {
    malformed(text.size(), "username e password devem ser dados juntos");
  }
  if (conf.token && conf.username) {
    malformed(text.size(), "use token ou username e password, não ambos");
  }
  return conf;
}

QuestDbConf questdb_conf_for(QuestDbTransport transport, std::string_view host,
                             std::string_view port, std::string username, std::string password) {
  const bool bare_ipv6 = host.find(':') != std::string_view::npos && !host.starts_with('[');
  const std::string addr =
      (bare_ipv6 ? "[" + std::string(host) + "]" : std::string(host)) + ":" + std::string(port);
  HostPortProblem problem = HostPortProblem::none;
  const auto address = parse_host_port(addr, kQuestDbHttpPort, &problem);
  if (!address) {
    throw IngressError(
        std::string(problem == HostPortProblem::port ? "porta inválida" : "host inválido") +
        " no endereço do QuestDB \"" + addr + "\"");
  }
  QuestDbConf conf;
  conf.transport = transport;
  conf.address = *address;
  conf.username = std::move(username);
  conf.password = std::move(password);
  return conf;
}

}  // namespace sonda
