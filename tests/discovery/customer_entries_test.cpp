#include "discovery/customer_entries.hpp"

#include <gtest/gtest.h>

#include "support/values.hpp"

namespace sonda {
namespace {

using test::at;
using test::integer;
using test::text;

CustomerRow row(FieldValue id, FieldValue titulos, FieldValue valor, FieldValue contato) {
  return {id,      text("Nome"),   text("123"),      titulos,        valor,
          contato, at(2020, 1, 1), text("Fantasia"), at(2021, 2, 3), integer(1)};
}

BillingData data_with(std::vector<CustomerRow> rows, FieldValue open_count, FieldValue open_sum) {
  BillingData data;
  data.clientes_data = std::move(rows);
  data.titulos_valor_em_aberto = {{open_count, open_sum}};
  return data;
}

MacroEntry entry_at(const MacroEntries& entries, std::size_t index) {
  MacroEntry entry;
  entries.fill(index, entry);
  return entry;
}

std::vector<std::string_view> names(const MacroEntry& entry) {
  std::vector<std::string_view> result;
  for (const MacroField& field : entry.fields()) result.push_back(field.name.text());
  return result;
}

TEST(CustomerEntries, TwoShapesPerRowInRowOrder) {
  const BillingData data = data_with(
      {row(integer(7), integer(2), 150.5, text("a | b")), row(Absent{}, integer(0), 0.0, Absent{})},
      integer(3), 42.0);
  const CustomerEntries entries = build_customer_entries(data, "zbx-host");
  ASSERT_EQ(entries.discovery.size(), 2u);
  ASSERT_EQ(entries.discovery_qdb.size(), 2u);
  EXPECT_EQ(
      names(entry_at(entries.discovery, 0)),
      (std::vector<std::string_view>{"{#CLIENTE_ID}", "{#RAZAOSOCIAL}", "{#CPF_CNPJ}",
                                     "{#VALOR_DIVIDA}", "{#TITULOS_EM_ATRASO}", "{#CONTATO}"}));
  EXPECT_EQ(names(entry_at(entries.discovery_qdb, 0)),
            (std::vector<std::string_view>{
                "{#CLIENTE_ID}", "{#RAZAOSOCIAL}", "{#CPF_CNPJ}", "{#VALOR_DIVIDA}",
                "{#TITULOS_EM_ATRASO}", "{#CONTATO}", "{#TEMPO_VENCIMENTO}", "{#NOME_FANTASIA}",
                "{#DATA_CADASTRO}", "{#STATUS_CONTRATO}", "{#BEK_IDENTIFICATION}"}));
  // A missing contact is "N/A" for Zabbix and stays absent for QuestDB.
  EXPECT_EQ(entry_at(entries.discovery, 1).at("{#CONTATO}"), text("N/A"));
  EXPECT_EQ(entry_at(entries.discovery_qdb, 1).at("{#CONTATO}"), FieldValue(Absent{}));
  EXPECT_EQ(entry_at(entries.discovery_qdb, 0).at("{#BEK_IDENTIFICATION}"), text("zbx-host"));
  EXPECT_EQ(entry_at(entries.discovery_qdb, 0).at("{#DATA_CADASTRO}"), FieldValue(at(2021, 2, 3)));
  EXPECT_EQ(entry_at(entries.discovery, 1).at("{#CLIENTE_ID}"), FieldValue(Absent{}));

  EXPECT_EQ(entries.totals.titulos_totais_em_atraso, integer(2));
  EXPECT_EQ(entries.totals.valor_total_divida, FieldValue(150.5));
  EXPECT_EQ(entries.totals.titulos_totais_em_aberto, integer(3));
  EXPECT_EQ(entries.totals.valor_total_em_aberto, FieldValue(42.0));
}

TEST(CustomerEntries, TotalsKeepTheirKinds) {
  const CustomerEntries none = build_customer_entries(data_with({}, integer(0), Absent{}), "h");
  EXPECT_EQ(none.totals.valor_total_divida, integer(0));  // the integer 0, not 0.0
  EXPECT_EQ(none.totals.titulos_totais_em_atraso, integer(0));
  EXPECT_EQ(none.totals.valor_total_em_aberto, FieldValue(Absent{}));

  const CustomerEntries zeros = build_customer_entries(
      data_with({row(integer(1), integer(0), 0.0, Absent{})}, integer(0), Absent{}), "h");
  EXPECT_EQ(zeros.totals.valor_total_divida, FieldValue(0.0));
}

TEST(CustomerEntries, AdditionFollowsNumericRules) {
  EXPECT_EQ(add_numbers(integer(2), integer(3)), integer(5));
  EXPECT_EQ(add_numbers(integer(0), 0.5), FieldValue(0.5));
  EXPECT_EQ(add_numbers(0.1, 0.2), FieldValue(0.1 + 0.2));
  EXPECT_THROW(add_numbers(integer(1), Absent{}), DataError);
  EXPECT_THROW(add_numbers(integer(1), text("2")), DataError);
}

}  // namespace
}  // namespace sonda
