#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/failure.hpp"
#include "core/host_port.hpp"

namespace sonda {

// The port of QuestDB's HTTP server when an address names none.
inline constexpr std::uint16_t kQuestDbHttpPort = 9000;

enum class QuestDbTransport { http, https };

// The settings of a QuestDB client, with the official clients' defaults.
struct QuestDbConf {
  QuestDbTransport transport = QuestDbTransport::http;
  HostPort address;
  std::optional<std::string> username;
  std::optional<std::string> password;
  std::optional<std::string> token;
  std::chrono::milliseconds request_timeout{10'000};
  std::chrono::milliseconds retry_timeout{10'000};
  std::uint64_t request_min_throughput = 102'400;  // bytes per second
  bool tls_verify = true;
  std::optional<std::string> tls_roots;         // a PEM file of trusted certificates
  std::optional<std::string> tls_roots_folder;  // a folder of them (as OpenSSL hashes it)
  std::size_t auto_flush_rows = 75'000;         // 0: never on row count
  std::size_t auto_flush_bytes = 100 * 1024 * 1024;
};

// The settings for one server given as its parts: the host (an IPv6 address with or without
// brackets), the port and the credentials, each taken whole, whatever characters it holds.
// Everything else keeps the official clients' defaults. Raises IngressError when the host or
// port is not usable.
QuestDbConf questdb_conf_for(QuestDbTransport transport, std::string_view host,
                             std::string_view port, std::string username, std::string password);

}  // namespace sonda
