#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "outside/failure.hpp"

namespace sonda {

// Any failure of the QuestDB ingestion client. Its message never carries a password or token.
class IngressError : public Failure {
 public:
  explicit IngressError(const std::string& message) : Failure("IngressError", message) {}
};

enum class QuestDbTransport { http, https };

// The settings of a QuestDB client configuration string, with the official clients' defaults.
struct QuestDbConf {
  QuestDbTransport transport = QuestDbTransport::http;
  std::string host;
  std::uint16_t port = 9000;
  std::optional<std::string> username;
  std::optional<std::string> password;
  std::optional<std::string> token;
  std::chrono::milliseconds request_timeout{10'000};
  std::chrono::milliseconds retry_timeout{10'000};
  std::uint64_t request_min_throughput = 102'400;  // bytes per second
  bool tls_verify = true;
  std::optional<std::string> tls_roots;  // a PEM file of trusted certificates
  std::size_t auto_flush_rows = 75'000;  // 0: never on row count
  std::size_t auto_flush_bytes = 100 * 1024 * 1024;
};

// Reads "schema::key=value;key=value;" (schema http or https; ";;" stands for a ";" inside a
// value). Keys: addr (host[:port], port 9000 by default), username, password, token,
// request_timeout and retry_timeout (milliseconds), request_min_throughput (bytes per second),
// tls_verify (on or unsafe_off), tls_roots, tls_ca, auto_flush, auto_flush_rows,
// auto_flush_bytes, protocol_version (1); other keys are ignored. Raises IngressError saying
// where the text is wrong, without repeating any value but the address.
QuestDbConf parse_questdb_conf(std::string_view text);

// `value` as a configuration-string value: every ";" doubled, so that it cannot end the value
// and add keys of its own.
std::string escape_conf_value(std::string_view value);

}  // namespace sonda
