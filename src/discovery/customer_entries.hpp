#pragma once

#include <string_view>
#include <vector>

#include "core/macro_entry.hpp"
#include "discovery/billing_query.hpp"

namespace sonda {

// The four totals of a run, in the kinds they end up with.
struct Totals {
  FieldValue titulos_totais_em_atraso = std::int64_t{0};  // integer
  FieldValue valor_total_divida = std::int64_t{0};  // integer 0 with no rows, else a real number
  FieldValue titulos_totais_em_aberto;              // integer
  FieldValue valor_total_em_aberto;                 // real number, or absent
};

// What a discovery run publishes: per customer row, a discovery entry (six fields, for Zabbix)
// and a snapshot entry (eleven fields, for QuestDB), in row order; and the totals.
struct CustomerEntries {
  std::vector<MacroEntry> discovery;
  std::vector<MacroEntry> discovery_qdb;
  Totals totals;
};

// Builds the entries and totals from what the database gave. `zabbix_host` is each snapshot
// entry's "{#BEK_IDENTIFICATION}"; texts view `data` and `zabbix_host`, which must outlive the
// entries. Rows are never merged, filtered or de-duplicated. Raises DataError when a value to
// be summed is not a number.
CustomerEntries build_customer_entries(const BillingData& data, std::string_view zabbix_host);

// a + b with numeric rules: integer + integer is an integer, anything with a real number is a
// real number (IEEE addition). Raises DataError for anything else.
FieldValue add_numbers(const FieldValue& a, const FieldValue& b);

}  // namespace sonda
