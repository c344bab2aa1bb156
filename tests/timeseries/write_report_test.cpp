// The one line that tells the operator which snapshot rows did not reach their table.
#include "timeseries/write_report.hpp"

#include <gtest/gtest.h>

namespace sonda {
namespace {

TEST(WriteReport, SaysWhatWasLeftOutAndWhatWasWritten) {
  TableWriteReport report;
  report.table = "bekClientes";
  report.total = 120000;
  report.written = 120000;
  EXPECT_EQ(error_line(report), std::nullopt);

  report.written = 119998;
  report.leave_out({std::int64_t{17}, "dataCadastro 1900-01-01 antes de 1970"});
  report.leave_out({Absent{}, "titulosDivida 3000000000 fora da faixa de INT"});
  EXPECT_EQ(error_line(report),
            "Erro: bekClientes: 2 de 120000 linhas não gravadas: cliente 17 (dataCadastro "
            "1900-01-01 antes de 1970), cliente sem id (titulosDivida 3000000000 fora da faixa "
            "de INT)");

  // Only the first few are named; a failure after some requests landed gives both counts.
  for (std::int64_t id = 100; id < 105; ++id) report.leave_out({id, "x"});
  report.written = 75000;
  report.failure = "o QuestDB em localhost:9000 respondeu HTTP 503";
  EXPECT_EQ(error_line(report),
            "Erro: bekClientes: 45000 de 120000 linhas não gravadas (75000 gravadas): cliente 17 "
            "(dataCadastro 1900-01-01 antes de 1970), cliente sem id (titulosDivida 3000000000 "
            "fora da faixa de INT), cliente 100 (x), cliente 101 (x), cliente 102 (x) e mais 2; "
            "o QuestDB em localhost:9000 respondeu HTTP 503");

  // A failure before any row: the failure alone.
  TableWriteReport empty;
  empty.table = "bekCobranca";
  EXPECT_EQ(error_line(empty), std::nullopt);
  empty.failure = "configuração inválida";
  EXPECT_EQ(error_line(empty), "Erro: bekCobranca: configuração inválida");
}

}  // namespace
}  // namespace sonda
