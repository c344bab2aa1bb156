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

// Adds the rows of `result` to `rows`, their texts copied into `texts`.
void add_customer_rows(const PgResult& result, std::vector<CustomerRow>& rows, TextStore& texts) {
  expect_columns(result, kCustomerColumns, "a consulta de clientes");
  for (int row = 0; row < result.rows(); ++row) {
    auto at = [&](int column) { return kept_value(result, row, column, texts); };
    rows.push_back({at(0), at(1), at(2), at(3), at(4), at(5), at(6), at(7), at(8), at(9)});
  }
}

std::vector<OpenBillsRow> open_bills_rows(const PgResult& result, TextStore& texts) {
  expect_columns(result, kOpenBillsColumns, "a consulta de títulos em aberto");
  std::vector<OpenBillsRow> rows;
  for (int row = 0; row < result.rows(); ++row) {
    rows.push_back({kept_value(result, row, 0, texts), kept_value(result, row, 1, texts)});
  }
  return rows;
}

// What an operator can do about a database failure, in the terms of the command line.
std::string_view advice(std::string_view message) {
  auto has = [&](std::string_view text) { return message.find(text) != std::string_view::npos; };
  if (has("password authentication failed") || has("no password supplied")) {
    return "confira db_user e db_password";
  }
  // libpq names the certificate problem, not where the operator sets what it is checked against.
  if (has("SSL") || has("certificate") || has("no encryption")) {
    return "confira a criptografia da conexão: PGSSLMODE, PGSSLROOTCERT com a CA que assinou o "
           "certificado do servidor, e que db_ip seja um nome que o certificado traz";
  }
  if (has("role \"") && has("does not exist")) return "confira db_user";
  if (has("database \"") && has("does not exist")) return "confira db_name";
  if (has("no pg_hba.conf entry")) {
    return "o pg_hba.conf do servidor precisa admitir esta máquina e este usuário";
  }
  if (has("Connection refused") || has("could not translate host name") ||
      has("No route to host") || has("Network is unreachable") || has("timed out") ||
      has("invalid integer value") || has("invalid port number")) {
    return "confira db_ip e db_port, e se o PostgreSQL aceita conexões TCP desta máquina";
  }
  if (has("SQLSTATE 42P01") || has("SQLSTATE 42703") || has("SQLSTATE 42883")) {
    return "confira se db_name é o banco do sistema de gestão";
  }
  if (has("SQLSTATE 42501")) return "db_user precisa poder ler (SELECT) as tabelas do sistema";
  return {};
}

BillingData read_with_connection(const PgParameters& parameters, const std::string& pop_id) {
  BillingData data;
  PgResult open_bills;
  {
    PgConnection connection(parameters);
    // pop_id is escaped for this connection, so the pattern is always %, pop_id, % and no
    // quote in it can end the literal.
    const std::string open_bills_text =
        open_bills_statement(connection.escape_literal_body(pop_id));
    // A SQL_ASCII database stores bytes unchecked: the server would refuse to pass a Latin-1
    // name as UTF-8 and fail the whole statement. Taken as they are, such bytes become U+FFFD
    // on their way out (Zabbix, QuestDB) and cost no row.
    if (connection.parameter("server_encoding") == "SQL_ASCII") {
      connection.command("SET client_encoding TO 'SQL_ASCII'");
    }
    connection.command("BEGIN");
    // Row by row: hundreds of thousands of customers are held once, as rows, and never also as
    // the whole result beside them.
    connection.query_rows(
        std::string(kCustomerStatement), "a consulta de clientes",
        [&](const PgResult& rows) { add_customer_rows(rows, data.clientes_data, data.texts); });
    open_bills = connection.query(open_bills_text, "a consulta de títulos em aberto");
    // The zone in which the statements' casts turned timestamps into date-times.
    data.time_zone = connection.parameter("TimeZone");
    // Leaving the scope closes the connection, which ends the transaction: no COMMIT, no ROLLBACK.
  }
  data.titulos_valor_em_aberto = open_bills_rows(open_bills, data.texts);
  if (data.titulos_valor_em_aberto.size() != 1) {
    throw DataError("a consulta de títulos em aberto deveria trazer exatamente uma linha");
  }
  return data;
}

}  // namespace

BillingData read_billing_data(const PgParameters& database, const std::string& pop_id) {
  try {
    return read_with_connection(database, pop_id);
  } catch (const DatabaseError& error) {
    const std::string_view hint = advice(error.what());
    if (hint.empty()) throw;
    throw DatabaseError(std::string(error.what()) + " (" + std::string(hint) + ")");
  }
}

}  // namespace sonda
