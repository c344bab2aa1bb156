#include "app/outcome_delivery.hpp"

#include <new>

#include "app/zabbix_server.hpp"
#include "outside/process/runtime_limit.hpp"
#include "outside/zabbix/zabbix_sender.hpp"

namespace sonda {

namespace {

constexpr std::string_view kNotSent = "resultado da execução não enviado ao Zabbix: ";

}  // namespace

std::optional<std::string> send_run_outcome(const std::string& zabbix_host,
                                            const Configuration& configuration,
                                            const RunOutcome& outcome) {
  try {
    const auto limit = runtime_limiter(kOutcomeSendSeconds);
    ZabbixSender sender(get_zabbix_server(zabbix_host, configuration, ZabbixUse::send));
    const ZabbixCounts counts =
        send_zabbix(sender, zabbix_host, kOutcomeItemKey, outcome_json(outcome));
    if (counts.failed == 0) return std::nullopt;
    return "resultado da execução recusado pelo servidor Zabbix em " +
           sender.settings().destinations.front().nodes.front().text() + " (item " +
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

}  // namespace sonda
