#pragma once

#include <string>
#include <vector>

#include "core/field_value.hpp"
#include "core/text_store.hpp"
#include "outside/postgres/pg_connection.hpp"

namespace sonda {

// One row of the customer statement, by column position.
struct CustomerRow {
  FieldValue id;                 // integer; absent for a contract without customer record
  FieldValue razao_social;       // text or absent
  FieldValue cpf_cnpj;           // text or absent
  FieldValue titulos_em_atraso;  // integer, 0 when nothing is overdue
  FieldValue valor_divida;       // real number, 0.0 when nothing is overdue
  FieldValue contato;            // text ("a | b") or absent
  FieldValue tempo_vencimento;   // date-time or absent
  FieldValue nome_fantasia;      // text or absent
  FieldValue data_cadastro;      // date-time or absent
  FieldValue status_contrato;    // the kind of the status column, or absent
};

// The one row of the open-bills statement.
struct OpenBillsRow {
  FieldValue titulos_aberto;  // integer
  FieldValue valor_aberto;    // real number, absent when no bill matched
};

// What one run reads. The rows' texts view the store kept here, so the whole is moved, never
// copied, and lives as long as anything built from it.
struct BillingData {
  std::vector<CustomerRow> clientes_data;             // in the server's order (by id)
  std::vector<OpenBillsRow> titulos_valor_em_aberto;  // exactly one row
  TextStore texts;
  // The session's TimeZone, in which the statements turned timestamps into date-times: the
  // zone that gives each date-time its instant.
  std::string time_zone;
};

// Opens one connection with `database`, runs the customer statement and the open-bills
// statement for `pop_id` inside one
// transaction that is never committed, and closes the connection. Raises DatabaseError when the
// connection or a statement fails, DataError when a value has no FieldValue kind, and
// TimeoutException at the run's limit.
BillingData read_billing_data(const PgParameters& database, const std::string& pop_id);

}  // namespace sonda
