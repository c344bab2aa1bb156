#include "app/outcome_delivery.hpp"

#include <cstdlib>
#include <new>

#include "app/zabbix_server.hpp"
#include "app/zabbix_tls_settings.hpp"
#include "outside/process/runtime_limit.hpp"
#include "outside/zabbix/zabbix_sender.hpp"

namespace sonda {

namespace {

constexpr std::string_view kNotSent = "resultado da execução não enviado ao Zabbix: ";

}  // namespace

std::optional<std::string> send_run_outcome(const std::string& zabbix_host,
                                            const RunOutcome& outcome) {
  try {
    const auto limit = runtime_limiter(kOutcomeSendSeconds);
    const std::string zabbix_server = get_zabbix_server(zabbix_host);
    use_zabbix_tls(get_zabbix_tls());
    const ZabbixCounts counts =
        send_zabbix(zabbix_server, zabbix_host, kOutcomeItemKey, outcome_json(outcome));
    if (counts.failed == 0) return std::nullopt;
    return "resultado da execução recusado pelo servidor Zabbix em " + zabbix_server + " (item " +
           std::string(kOutcomeItemKey) + " do host \"" + zabbix_host +
           "\"): o host precisa ter o modelo Sonda de cobrança, com esse item trapper, e aceitar "
           "o endereço desta máquina em \"Allowed hosts\"";
  } catch (const TimeoutException&) {
    return std::string(kNotSent) + "o servidor não respondeu em " +
           std::to_string(kOutcomeSendSeconds) + " segundos";
  } catch (const Failure& failure) {
    return std::string(kNotSent) + std::string(failure.kind()) + ": " + failure.what();
  } catch (const std::bad_alloc&) {
    return std::string(kNotSent) + "memória insuficiente";
  } catch (const std::exception& error) {
    return std::string(kNotSent) + error.what();
  }
}

bool outcome_requested_from(const char* text) {
  if (text == nullptr) return false;
  const std::string_view value = text;
  if (value.empty() || value == "0") return false;
  if (value == "1") return true;
  throw ConfigError(
      "SONDA_SEND_OUTCOME deve ser 1 (enviar o resultado da execução ao item sonda_execucao do "
      "Zabbix) ou 0, não \"" +
      std::string(value) + "\"");
}

bool outcome_requested() { return outcome_requested_from(std::getenv("SONDA_SEND_OUTCOME")); }

}  // namespace sonda
