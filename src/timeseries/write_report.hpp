#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/field_value.hpp"

namespace sonda {

// A row that did not reach its table: the customer's id and why.
struct LeftOutRow {
  FieldValue id;
  std::string reason;
};

// What became of one writer's rows.
struct TableWriteReport {
  static constexpr std::size_t kNamedRows = 5;

  std::string_view table;
  std::size_t total = 0;               // rows the writer had to write
  std::size_t written = 0;             // rows the server stored
  std::vector<LeftOutRow> named;       // the first kNamedRows rows left out
  std::size_t left_out = 0;            // every row left out, named or not
  std::optional<std::string> failure;  // why the writer stopped early

  // Keeps `row` among the named ones while there is room, and counts it.
  void leave_out(LeftOutRow row);
};

// The one line that tells the operator what was not written ("Erro: bekClientes: 2 de 120000
// linhas não gravadas: cliente 17 (dataCadastro 1900-01-01 antes de 1970), cliente 99 (...)"),
// with the rows written when a failure stopped the writer; nothing when every row was written.
std::optional<std::string> error_line(const TableWriteReport& report);

}  // namespace sonda
