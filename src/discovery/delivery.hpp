#pragma once

#include <string>

#include "app/run_settings.hpp"
#include "console/line_output.hpp"
#include "discovery/customer_entries.hpp"

namespace sonda {

// The item key of a per-customer value: `prefix`, the customer id as text ("None" when
// absent) and "]".
std::string customer_item_key(std::string_view prefix, const FieldValue& id);

// Sends, in this order and one value per call: the four totals, the discovery document, then
// for each discovery entry its overdue amount and overdue count; then writes the snapshot
// entries to both QuestDB tables and "OK" to standard output. A failed send ends the sequence
// there (the failure passes on); an ingestion failure does not.
void deliver(const RunSettings& settings, const std::string& zabbix_server,
             const CustomerEntries& entries, LineOutput& out = standard_output());

}  // namespace sonda
