#pragma once

#include <span>
#include <string_view>

#include "core/macro_entries.hpp"
#include "discovery/billing_query.hpp"

namespace sonda {

// The four totals of a run, in the kinds they end up with.
struct Totals {
  FieldValue titulos_totais_em_atraso = std::int64_t{0};  // integer
  FieldValue valor_total_divida = std::int64_t{0};  // integer 0 with no rows, else a real number
  FieldValue titulos_totais_em_aberto;              // integer
  FieldValue valor_total_em_aberto;                 // real number, or absent
};

// The discovery entry of each customer row, for Zabbix: "{#CLIENTE_ID}", "{#RAZAOSOCIAL}",
// "{#CPF_CNPJ}", "{#VALOR_DIVIDA}", "{#TITULOS_EM_ATRASO}" and "{#CONTATO}" ("N/A" when absent).
class DiscoveryEntries final : public MacroEntries {
 public:
  DiscoveryEntries() = default;
  explicit DiscoveryEntries(std::span<const CustomerRow> rows) : rows_(rows) {}

  std::size_t size() const override { return rows_.size(); }
  void fill(std::size_t index, MacroEntry& entry) const override;

 private:
  std::span<const CustomerRow> rows_;
};

// The snapshot entry of each customer row, for QuestDB: the same five first fields, the contact
// as it is, "{#TEMPO_VENCIMENTO}", "{#NOME_FANTASIA}", "{#DATA_CADASTRO}", "{#STATUS_CONTRATO}"
// and "{#BEK_IDENTIFICATION}" (the Zabbix host).
class SnapshotEntries final : public MacroEntries {
 public:
  SnapshotEntries() = default;
  SnapshotEntries(std::span<const CustomerRow> rows, std::string_view zabbix_host)
      : rows_(rows), zabbix_host_(zabbix_host) {}

  std::size_t size() const override { return rows_.size(); }
  void fill(std::size_t index, MacroEntry& entry) const override;

 private:
  std::span<const CustomerRow> rows_;
  std::string_view zabbix_host_;
};

// What a discovery run publishes: per customer row, in row order, a discovery entry and a
// snapshot entry, both made from the row when read; and the totals.
struct CustomerEntries {
  std::span<const CustomerRow> rows;
  DiscoveryEntries discovery;
  SnapshotEntries discovery_qdb;
  Totals totals;
};

// Builds the entries and totals from what the database gave. The entries view the rows of
// `data` and `zabbix_host`, which must outlive them. Rows are never merged, filtered or
// de-duplicated. Raises DataError when a value to be summed is not a number.
CustomerEntries build_customer_entries(const BillingData& data, std::string_view zabbix_host);

// a + b with numeric rules: integer + integer is an integer, anything with a real number is a
// real number (IEEE addition). Raises DataError for anything else.
FieldValue add_numbers(const FieldValue& a, const FieldValue& b);

}  // namespace sonda
