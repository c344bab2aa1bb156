#pragma once

#include <string>

#include "discovery/customer_entries.hpp"
#include "outside/zabbix/zabbix_reply.hpp"
#include "outside/zabbix/zabbix_sender.hpp"

namespace sonda {

// The item key of a per-customer value: `prefix`, the customer id as text ("None" when
// absent) and "]".
std::string customer_item_key(std::string_view prefix, const FieldValue& id);

// Sends to the Zabbix server, in this order, for the host `zabbix_host`: the four totals, the
// discovery document, then for each discovery entry its overdue amount and its overdue count.
// With a batch of 1 (the sender's settings) each value goes in a request of its own; otherwise
// up to that many values share a request (the totals together, the document always alone). A
// failed send ends the sequence there: the failure passes on, and the values of earlier requests
// stay sent. Fixed values the server refused or left uncounted are told on standard error in one
// line once the document is sent; the per-customer ones are only counted, and the sum of their
// counts is returned.
ZabbixCounts send_to_zabbix(ZabbixSender& zabbix_server, const std::string& zabbix_host,
                            const CustomerEntries& entries);

// The first part of send_to_zabbix: the totals and the discovery document.
void send_fixed_values(ZabbixSender& zabbix_server, const std::string& zabbix_host,
                       const CustomerEntries& entries);

// The second part of send_to_zabbix: the per-customer values; what the server did with them,
// summed over the requests.
ZabbixCounts send_customer_values(ZabbixSender& zabbix_server, const std::string& zabbix_host,
                                  const CustomerEntries& entries);

}  // namespace sonda
