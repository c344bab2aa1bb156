#include "discovery/delivery.hpp"

#include "console/value_text.hpp"
#include "discovery/discovery_document.hpp"
#include "outside/runtime_limit.hpp"
#include "outside/zabbix_sender.hpp"
#include "timeseries/snapshot_writers.hpp"

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

void deliver(const RunSettings& settings, const std::string& zabbix_server,
             const CustomerEntries& entries, LineOutput& out) {
  const std::string& host = settings.zabbix_host.value();
  const Totals& totals = entries.totals;
  send_zabbix(zabbix_server, host, "titulos_totais_em_atraso", totals.titulos_totais_em_atraso);
  send_zabbix(zabbix_server, host, "valor_total_divida", totals.valor_total_divida);
  send_zabbix(zabbix_server, host, "titulos_totais_em_aberto", totals.titulos_totais_em_aberto);
  send_zabbix(zabbix_server, host, "valor_total_em_aberto", totals.valor_total_em_aberto);
  {
    const std::string document = discovery_document(entries.discovery);
    send_zabbix(zabbix_server, host, "discovery_clientes", std::string_view(document));
  }
  for (const MacroEntry& entry : entries.discovery) {
    const FieldValue& id = entry.at("{#CLIENTE_ID}");
    send_zabbix(zabbix_server, host, customer_item_key("valor_divida[", id),
                entry.at("{#VALOR_DIVIDA}"));
    send_zabbix(zabbix_server, host, customer_item_key("titulos_em_atraso[", id),
                entry.at("{#TITULOS_EM_ATRASO}"));
  }
  sendQuestDB(settings, entries.discovery_qdb);
  sendQuestDBChat(settings, entries.discovery_qdb);
  run_deadline::check();
  out.line("OK");
}

}  // namespace sonda
