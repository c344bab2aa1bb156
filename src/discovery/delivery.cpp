#include "discovery/delivery.hpp"

#include <algorithm>
#include <span>
#include <vector>

#include "console/line_output.hpp"
#include "console/value_text.hpp"
#include "discovery/discovery_document.hpp"
#include "discovery/refused_values.hpp"
#include "outside/zabbix/zabbix_sender.hpp"

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

namespace {

// Sends `values` in order, the sender's batch at a time; the server's counts, summed. The keys of
// the requests with a refused value are added to `refused_keys`, when given.
ZabbixCounts send_in_requests(ZabbixSender& zabbix_server, const std::string& zabbix_host,
                              std::span<const ZabbixItemValue> values,
                              std::vector<std::string>* refused_keys = nullptr) {
  const std::size_t batch = zabbix_server.batch();
  ZabbixCounts sum;
  for (std::size_t first = 0; first < values.size(); first += batch) {
    const auto request = values.subspan(first, std::min(batch, values.size() - first));
    const ZabbixCounts counts = send_zabbix_values(zabbix_server, zabbix_host, request);
    if (counts.failed > 0 && refused_keys != nullptr) {
      for (const ZabbixItemValue& item : request) refused_keys->push_back(item.key);
    }
    sum += counts;
  }
  return sum;
}

}  // namespace

ZabbixCounts send_fixed_values(ZabbixSender& zabbix_server, const std::string& zabbix_host,
                               const CustomerEntries& entries, DocumentAmounts amounts) {
  const Totals& totals = entries.totals;
  const ZabbixItemValue totals_values[] = {
      {"titulos_totais_em_atraso", totals.titulos_totais_em_atraso},
      {"valor_total_divida", totals.valor_total_divida},
      {"titulos_totais_em_aberto", totals.titulos_totais_em_aberto},
      {"valor_total_em_aberto", totals.valor_total_em_aberto},
  };
  std::vector<std::string> refused_keys;
  ZabbixCounts fixed = send_in_requests(zabbix_server, zabbix_host, totals_values, &refused_keys);
  // Escaped and compressed as it is written: the document of 500,000 customers is never
  // held whole.
  SenderTextRequest request(zabbix_host, "discovery_clientes");
  write_discovery_document(entries.discovery, amounts,
                           [&](std::string_view piece) { request.append(piece); });
  const ZabbixCounts document = zabbix_server.exchange("discovery_clientes", 1, request.finish());
  if (document.failed > 0) refused_keys.emplace_back("discovery_clientes");
  fixed += document;
  if (auto line = refused_fixed_line(zabbix_host, refused_keys, fixed)) {
    write_error_line(*line);
  }
  return fixed;
}

ZabbixCounts send_customer_values(ZabbixSender& zabbix_server, const std::string& zabbix_host,
                                  const CustomerEntries& entries) {
  // Their items may not exist yet: refusals are the rule on a first run, so they are counted,
  // not told.
  const std::size_t batch = zabbix_server.batch();
  ZabbixCounts customers;
  std::vector<ZabbixItemValue> pending;
  pending.reserve(std::min<std::size_t>(batch, 2 * entries.rows.size()));
  const auto send_pending = [&] {
    customers += send_in_requests(zabbix_server, zabbix_host, pending);
    pending.clear();
  };
  for (const CustomerRow& row : entries.rows) {
    pending.push_back({customer_item_key("valor_divida[", row.id), row.valor_divida});
    if (pending.size() == batch) send_pending();
    pending.push_back({customer_item_key("titulos_em_atraso[", row.id), row.titulos_em_atraso});
    if (pending.size() == batch) send_pending();
  }
  send_pending();
  return customers;
}

}  // namespace sonda
