#include "app/probe_settings.hpp"

#include <climits>
#include <cstdint>

#include "core/constants.hpp"
#include "core/failure.hpp"
#include "core/whole_number.hpp"
#include "outside/zabbix/zabbix_settings.hpp"

namespace sonda {

namespace {

// The number `text` writes with digits alone, when it is one from `least` to `most`.
std::optional<std::size_t> whole_number(std::string_view text, std::size_t least,
                                        std::size_t most) {
  const auto number = parse_whole_number<std::size_t>(text);
  if (!number || *number < least || *number > most) return std::nullopt;
  return number;
}

std::optional<std::string> named_text(const Configuration& configuration, std::string_view name) {
  const ConfigLine* line = configuration.find(name);
  if (line == nullptr || line->value.empty()) return std::nullopt;
  return line->value;
}

}  // namespace

int runtime_limit(const Configuration& configuration) {
  const ConfigLine* line = configuration.find("SONDA_TEST_RUNTIME_LIMIT");
  if (line == nullptr) return RUNTIME_LIMIT;
  const auto seconds = whole_number(line->value, 1, INT_MAX);
  if (!seconds) {
    throw ConfigError(line->named() + " deve ser um número inteiro de segundos maior que zero");
  }
  return static_cast<int>(*seconds);
}

std::size_t zabbix_batch(const Configuration& configuration) {
  const ConfigLine* line = configuration.find("SONDA_ZABBIX_BATCH");
  if (line == nullptr) return 1;
  const auto batch = whole_number(line->value, 1, kMaxZabbixBatch);
  if (!batch) {
    throw ConfigError(line->named() + " deve ser um número inteiro de 1 a " +
                      std::to_string(kMaxZabbixBatch) + " (valores por envio ao Zabbix), não \"" +
                      line->value + "\"");
  }
  return *batch;
}

std::optional<std::string> log_folder(const Configuration& configuration) {
  return named_text(configuration, "SONDA_LOG_DIR");
}

bool sends_outcome(const Configuration& configuration) {
  const ConfigLine* line = configuration.find("SONDA_SEND_OUTCOME");
  if (line == nullptr || line->value.empty() || line->value == "0") return false;
  if (line->value == "1") return true;
  throw ConfigError(line->named() +
                    " deve ser 1 (enviar o resultado da execução ao item sonda_execucao do Zabbix) "
                    "ou 0, não \"" +
                    line->value + "\"");
}

DocumentAmounts discovery_amounts(const Configuration& configuration) {
  const ConfigLine* line = configuration.find("SONDA_DISCOVERY_AMOUNTS");
  if (line == nullptr || line->value.empty() || line->value == "1") return DocumentAmounts::kept;
  if (line->value == "0") return DocumentAmounts::left_out;
  throw ConfigError(line->named() +
                    " deve ser 1 (a descoberta leva {#VALOR_DIVIDA} e {#TITULOS_EM_ATRASO}) ou 0 "
                    "(a descoberta os deixa de fora), não \"" +
                    line->value + "\"");
}

std::optional<std::string> phase_times_file(const Configuration& configuration) {
  const ConfigLine* line = configuration.find("SONDA_PHASE_TIMES");
  if (line == nullptr) return std::nullopt;
  return line->value;
}

MachineZone machine_zone(const Configuration& configuration) {
  MachineZone zone;
  if (const ConfigLine* line = configuration.find("TZ")) zone.tz = line->value;
  zone.tzdir = named_text(configuration, "TZDIR");
  return zone;
}

std::optional<std::string> ca_file(const Configuration& configuration) {
  return named_text(configuration, "SSL_CERT_FILE");
}

std::optional<std::string> ca_folder(const Configuration& configuration) {
  return named_text(configuration, "SSL_CERT_DIR");
}

std::optional<std::size_t> rows_per_request(const Configuration& configuration) {
  const auto text = named_text(configuration, "SONDA_TEST_ROWS_PER_REQUEST");
  if (!text) return std::nullopt;
  const auto rows = whole_number(*text, 1, SIZE_MAX);
  if (!rows) {
    throw ConfigError(
        "SONDA_TEST_ROWS_PER_REQUEST deve ser um número inteiro de linhas maior que zero");
  }
  return rows;
}

}  // namespace sonda
