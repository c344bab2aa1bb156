#pragma once

#include <string>

#include "discovery/customer_entries.hpp"

namespace sonda {

// The item key of a per-customer value: `prefix`, the customer id as text ("None" when
// absent) and "]".
std::string customer_item_key(std::string_view prefix, const FieldValue& id);

// Sends to the Zabbix server, in this order and one value per call, for the host
// `zabbix_host`: the four totals, the discovery document, then for each discovery entry its
// overdue amount and its overdue count. A failed send ends the sequence there: the failure
// passes on.
void send_to_zabbix(const std::string& zabbix_server, const std::string& zabbix_host,
                    const CustomerEntries& entries);

}  // namespace sonda
