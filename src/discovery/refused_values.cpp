#include "discovery/refused_values.hpp"

namespace sonda {

namespace {

std::string values_text(std::uint64_t count) {
  return std::to_string(count) + (count == 1 ? " valor" : " valores");
}

}  // namespace

std::optional<std::string> refused_fixed_line(std::string_view zabbix_host,
                                              std::span<const std::string> keys,
                                              std::uint64_t refused) {
  if (refused == 0) return std::nullopt;
  std::string names;
  for (const std::string& key : keys) names += (names.empty() ? "" : ", ") + key;
  return "Aviso: o servidor Zabbix recusou " + values_text(refused) + " entre " + names +
         " do host \"" + std::string(zabbix_host) +
         "\". Causas comuns: o host não existe no Zabbix com esse nome exato; o item não existe "
         "ou não é do tipo trapper; o endereço desta máquina não está em \"Allowed hosts\" do "
         "item; o host exige criptografia.";
}

std::optional<std::string> refused_customer_line(std::string_view zabbix_host,
                                                 const ZabbixCounts& counts) {
  if (counts.failed == 0) return std::nullopt;
  return "Aviso: o servidor Zabbix recusou " + std::to_string(counts.failed) + " de " +
         values_text(counts.total) +
         " por cliente (valor_divida[...] e titulos_em_atraso[...]) "
         "do host \"" +
         std::string(zabbix_host) +
         "\". É o esperado na primeira execução, antes de a descoberta criar os itens dos "
         "clientes; se continuar nas seguintes, confira os protótipos de item da regra "
         "discovery_clientes.";
}

}  // namespace sonda
