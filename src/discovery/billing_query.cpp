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

std::vector<CustomerRow> customer_rows(const PgResult& result) {
  expect_columns(result, kCustomerColumns, "a consulta de clientes");
  std::vector<CustomerRow> rows;
  rows.reserve(static_cast<std::size_t>(result.rows()));
  for (int row = 0; row < result.rows(); ++row) {
    rows.push_back({result.value(row, 0), result.value(row, 1), result.value(row, 2),
                    result.value(row, 3), result.value(row, 4), result.value(row, 5),
                    result.value(row, 6), result.value(row, 7), result.value(row, 8),
                    result.value(row, 9)});
  }
  return rows;
}

std::vector<OpenBillsRow> open_bills_rows(const PgResult& result) {
  expect_columns(result, kOpenBillsColumns, "a consulta de títulos em aberto");
  std::vector<OpenBillsRow> rows;
  for (int row = 0; row < result.rows(); ++row) {
    rows.push_back({result.value(row, 0), result.value(row, 1)});
  }
  return rows;
}

}  // namespace

BillingData read_billing_data(const RunSettings& settings) {
  const PgParameters parameters{settings.db_ip.value(), settings.db_port.value(),
                                settings.db_name.value(), settings.db_user.value(),
                                settings.db_password.value()};
  BillingData data;
  {
    PgConnection connection(parameters);
    // pop_id is escaped for this connection, so the pattern is always %, pop_id, % and no
    // quote in it can end the literal.
    const std::string open_bills =
        open_bills_statement(connection.escape_literal_body(settings.pop_id.value()));
    connection.command("BEGIN");
    data.customer_result =
        connection.query(std::string(kCustomerStatement), "a consulta de clientes");
    data.open_bills_result = connection.query(open_bills, "a consulta de títulos em aberto");
    // Leaving the scope closes the connection, which ends the transaction: no COMMIT, no ROLLBACK.
  }
  data.clientes_data = customer_rows(data.customer_result);
  data.titulos_valor_em_aberto = open_bills_rows(data.open_bills_result);
  if (data.titulos_valor_em_aberto.size() != 1) {
    throw DataError("a consulta de títulos em aberto deveria trazer exatamente uma linha");
  }
  return data;
}

}  // namespace sonda
