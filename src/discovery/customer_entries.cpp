#include "discovery/customer_entries.hpp"

#include <optional>

#include "core/macro_names.hpp"

namespace sonda {

namespace {

constexpr std::string_view kNoContact = "N/A";

std::optional<double> as_real(const FieldValue& value) {
  if (const auto* integer = std::get_if<std::int64_t>(&value)) {
    return static_cast<double>(*integer);
  }
  if (const auto* real = std::get_if<double>(&value)) return *real;
  return std::nullopt;
}

// The five fields that open both shapes of entry.
void add_leading_fields(MacroEntry& entry, const CustomerRow& row) {
  entry.add(macro::CLIENTE_ID, row.id);
  entry.add(macro::RAZAOSOCIAL, row.razao_social);
  entry.add(macro::CPF_CNPJ, row.cpf_cnpj);
  entry.add(macro::VALOR_DIVIDA, row.valor_divida);
  entry.add(macro::TITULOS_EM_ATRASO, row.titulos_em_atraso);
}

}  // namespace

FieldValue add_numbers(const FieldValue& a, const FieldValue& b) {
  const auto* left = std::get_if<std::int64_t>(&a);
  const auto* right = std::get_if<std::int64_t>(&b);
  if (left && right) {
    std::int64_t sum = 0;
    if (!__builtin_add_overflow(*left, *right, &sum)) return sum;
    return static_cast<double>(*left) + static_cast<double>(*right);
  }
  const auto x = as_real(a);
  const auto y = as_real(b);
  if (!x || !y) throw DataError("um valor a somar nos totais não é um número");
  return *x + *y;
}

void DiscoveryEntries::fill(std::size_t index, MacroEntry& entry) const {
  const CustomerRow& row = rows_[index];
  entry.clear();
  add_leading_fields(entry, row);
  entry.add(macro::CONTATO, is_absent(row.contato) ? FieldValue(kNoContact) : row.contato);
}

void SnapshotEntries::fill(std::size_t index, MacroEntry& entry) const {
  const CustomerRow& row = rows_[index];
  entry.clear();
  add_leading_fields(entry, row);
  entry.add(macro::CONTATO, row.contato);
  entry.add(macro::TEMPO_VENCIMENTO, row.tempo_vencimento);
  entry.add(macro::NOME_FANTASIA, row.nome_fantasia);
  entry.add(macro::DATA_CADASTRO, row.data_cadastro);
  entry.add(macro::STATUS_CONTRATO, row.status_contrato);
  entry.add(macro::BEK_IDENTIFICATION, zabbix_host_);
}

CustomerEntries build_customer_entries(const BillingData& data, std::string_view zabbix_host) {
  const std::span<const CustomerRow> rows = data.clientes_data;
  CustomerEntries entries{rows, DiscoveryEntries(rows), SnapshotEntries(rows, zabbix_host), {}};
  Totals& totals = entries.totals;
  for (const CustomerRow& row : rows) {
    totals.titulos_totais_em_atraso =
        add_numbers(totals.titulos_totais_em_atraso, row.titulos_em_atraso);
    totals.valor_total_divida = add_numbers(totals.valor_total_divida, row.valor_divida);
  }

  const OpenBillsRow& open_bills = data.titulos_valor_em_aberto.front();
  totals.titulos_totais_em_aberto = open_bills.titulos_aberto;
  totals.valor_total_em_aberto = open_bills.valor_aberto;
  return entries;
}

}  // namespace sonda
