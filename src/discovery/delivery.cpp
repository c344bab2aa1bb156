#include "discovery/delivery.hpp"

#include "console/value_text.hpp"
#include "discovery/discovery_document.hpp"
#include "outside/zabbix_sender.hpp"

namespace sonda {

std::string customer_item_key(std::string_view prefix, const FieldValue& id) {
  std::string key(prefix);
  if (is_absent(id)) {
    key += "None";
  } else {
    append_value_text(key, id);
  }
  key.push_back(']');
  return key;
}

void send_to_zabbix(const std::string& zabbix_server, const std::string& zabbix_host,
                    const CustomerEntries& entries) {
  const Totals& totals = entries.totals;
  send_zabbix(zabbix_server, zabbix_host, "titulos_totais_em_atraso",
              totals.titulos_totais_em_atraso);
  send_zabbix(zabbix_server, zabbix_host, "valor_total_divida", totals.valor_total_divida);
  send_zabbix(zabbix_server, zabbix_host, "titulos_totais_em_aberto",
              totals.titulos_totais_em_aberto);
  send_zabbix(zabbix_server, zabbix_host, "valor_total_em_aberto", totals.valor_total_em_aberto);
  send_zabbix(zabbix_server, zabbix_host, "discovery_clientes",
              discovery_document(entries.discovery));
  for (const MacroEntry& entry : entries.discovery) {
    const FieldValue& id = entry.at("{#CLIENTE_ID}");
    send_zabbix(zabbix_server, zabbix_host, customer_item_key("valor_divida[", id),
                entry.at("{#VALOR_DIVIDA}"));
    send_zabbix(zabbix_server, zabbix_host, customer_item_key("titulos_em_atraso[", id),
                entry.at("{#TITULOS_EM_ATRASO}"));
  }
}

}  // namespace sonda
