#include "discovery/refused_values.hpp"

namespace sonda {

namespace {

std::string values_text(std::uint64_t count) {
  return std::to_string(count) + (count == 1 ? " valor" : " valores");
}

}  // namespace

std::optional<std::string> refused_fixed_line(std::string_view zabbix_host,
                                              std::span<const std::string> keys,
                                              const ZabbixCounts& counts) {
  if (counts.failed == 0) return std::nullopt;
  const std::uint64_t refused = counts.failed - counts.unconfirmed;
  std::string what;
  if (refused > 0) what = "recusou " + values_text(refused);
  if (counts.unconfirmed > 0) {
    what += (what.empty() ? "" : " e ") + std::string("não confirmou ") +
            values_text(counts.unconfirmed);
  }
  std::string names;
  for (const std::string& key : keys) names += (names.empty() ? "" : ", ") + key;
  std::string line = "Aviso: o servidor Zabbix " + what + " entre " + names + " do host \"" +
                     std::string(zabbix_host) + "\".";
  if (refused > 0) {
    line +=
        " Causas comuns: o host não existe no Zabbix com esse nome exato; o item não existe ou "
        "não é do tipo trapper; o endereço desta máquina não está em \"Allowed hosts\" do item; o "
        "host exige criptografia.";
  }
  if (counts.unconfirmed > 0) {
    line +=
        " A resposta contou menos valores do que os enviados: confira se o endereço é o de um "
        "servidor ou proxy Zabbix.";
  }
  return line;
}

}  // namespace sonda
