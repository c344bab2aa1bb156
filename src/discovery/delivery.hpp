#pragma once

#include <string>

#include "discovery/customer_entries.hpp"
#include "discovery/discovery_document.hpp"
#include "outside/zabbix/zabbix_reply.hpp"
#include "outside/zabbix/zabbix_sender.hpp"

namespace sonda {

// The item key of a per-customer value: `prefix`, the customer id as text ("None" when
// absent) and "]".
std::string customer_item_key(std::string_view prefix, const FieldValue& id);

// A run's values reach the Zabbix server for the host `zabbix_host` in two steps, always in this
// order: send_fixed_values, then send_customer_values. With a batch of 1 (the sender's settings)
// each value goes in a request of its own; otherwise up to that many values share a request (the
// totals together, the document always alone). A failed send ends the sequence there: the
// failure passes on, and the values of earlier requests stay sent.

// The first step: the four totals, then the discovery document, with or without the customers'
// amounts. Values the server refused or left uncounted are told on standard error in one line
// once the document is sent; what the server did with them, summed over the requests, is
// returned.
ZabbixCounts send_fixed_values(ZabbixSender& zabbix_server, const std::string& zabbix_host,
                               const CustomerEntries& entries, DocumentAmounts amounts);

// The second step: for each discovery entry, its overdue amount and then its overdue count. Their
// items may not exist yet (a first run, a new customer), so what the server did with them is
// only counted: the sum over the requests is returned, nothing is told.
ZabbixCounts send_customer_values(ZabbixSender& zabbix_server, const std::string& zabbix_host,
                                  const CustomerEntries& entries);

}  // namespace sonda
