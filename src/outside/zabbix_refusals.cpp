#include "outside/zabbix_refusals.hpp"

#include <atomic>
#include <charconv>
#include <string>

#include "console/line_output.hpp"

namespace sonda {

namespace {

std::optional<long> count_after(std::string_view info, std::string_view label) {
  const auto at = info.find(label);
  if (at == std::string_view::npos) return std::nullopt;
  const std::string_view digits = info.substr(at + label.size());
  long value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end == digits.data()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<TrapperCounts> trapper_counts(std::string_view info) {
  const auto processed = count_after(info, "processed: ");
  const auto failed = count_after(info, "failed: ");
  if (!processed || !failed) return std::nullopt;
  return TrapperCounts{*processed, *failed};
}

void report_failed_values(std::string_view where, std::string_view key,
                          std::string_view info) noexcept {
  try {
    const auto counts = trapper_counts(info);
    if (!counts || counts->failed == 0) return;
    static std::atomic<bool> reported{false};
    if (reported.exchange(true)) return;
    write_error_line("sonda-cobranca: aviso: o servidor Zabbix em " + std::string(where) +
                     " não guardou o valor de " + std::string(key) + " (" + std::string(info) +
                     "): confira se o host e o item existem e se o host aceita esta conexão "
                     "(TLSConnect, PSK ou certificado); outras recusas desta execução não são "
                     "listadas");
  } catch (...) {
    // A diagnostic that cannot be built is not a reason to fail the send.
  }
}

}  // namespace sonda
