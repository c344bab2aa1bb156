#include "discovery/billing_query.hpp"

#include "discovery/billing_statements.hpp"

namespace sonda {

namespace {

constexpr int kCustomerColumns = 10;
constexpr int kOpenBillsColumns = 2;

void expect_columns(const PgResult& result, int count, std::string_view what) {
  if (result.columns() != count) {
    throw DataError(std::string(what) + " trouxe " + std::to_string(result.columns()) +
                    " colunas em vez de " + std::to_string(count));
  }
}

// The value at (row, column), its text (if any) copied into `texts`.
FieldValue kept_value(const PgResult& result, int row, int column, TextStore& texts) {
  FieldValue value = result.value(row, column);
  if (const auto* text = std::get_if<std::string_view>(&value)) value = texts.keep(*text);
  return value;
}

std::vector<CustomerRow> customer_rows(const PgResult& result, TextStore& texts) {
  expect_columns(result, kCustomerColumns, "a consulta de clientes");
  std::vector<CustomerRow> rows;
  rows.reserve(static_cast<std::size_t>(result.rows()));
  for (int row = 0; row < result.rows(); ++row) {
    auto at = [&](int column) { return kept_value(result, row, column, texts); };
    rows.push_back({at(0), at(1), at(2), at(3), at(4), at(5), at(6), at(7), at(8), at(9)});
  }
  return rows;
}

std::vector<OpenBillsRow> open_bills_rows(const PgResult& result, TextStore& texts) {
  expect_columns(result, kOpenBillsColumns, "a consulta de títulos em aberto");
  std::vector<OpenBillsRow> rows;
  for (int row = 0; row < result.rows(); ++row) {
    rows.push_back({kept_value(result, row, 0, texts), kept_value(result, row, 1, texts)});
  }
  return rows;
}

}  // namespace

BillingData read_billing_data(const RunSettings& settings) {
  const PgParameters parameters{settings.db_ip.value(), settings.db_port.value(),
                                settings.db_name.value(), settings.db_user.value(),
                                settings.db_password.value()};
  PgResult customers;
  PgResult open_bills;
  {
    PgConnection connection(parameters);
    // pop_id is escaped for this connection, so the pattern is always %, pop_id, % and no
    // quote in it can end the literal.
    const std::string open_bills_text =
        open_bills_statement(connection.escape_literal_body(settings.pop_id.value()));
    connection.command("BEGIN");
    customers = connection.query(std::string(kCustomerStatement), "a consulta de clientes");
    open_bills = connection.query(open_bills_text, "a consulta de títulos em aberto");
    // Leaving the scope closes the connection, which ends the transaction: no COMMIT, no ROLLBACK.
  }
  BillingData data;
  data.clientes_data = customer_rows(customers, data.texts);
  data.titulos_valor_em_aberto = open_bills_rows(open_bills, data.texts);
  if (data.titulos_valor_em_aberto.size() != 1) {
    throw DataError("a consulta de títulos em aberto deveria trazer exatamente uma linha");
  }
  return data;
}

}  // namespace sonda
