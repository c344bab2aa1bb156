#include "discovery/run_figures.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace sonda::test {
namespace {

std::string contents(int fd) {
  std::string text(4096, '\0');
  const ssize_t n = ::pread(fd, text.data(), text.size(), 0);
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return text;
}

// What the run records reaches the waiting process as it happens, and reads back the same;
// the first error line stays, made one line and cut at a character.
TEST(RunFigures, TheWaitingProcessReadsWhatTheRunRecordedInOrder) {
  const int channel = ::memfd_create("figures", MFD_CLOEXEC);
  ASSERT_GE(channel, 0);
  run_figures::mirror_to(channel);
  run_figures::record_customers(7);
  const std::string after_customers = contents(channel);
  run_figures::record_refused_fixed(0);
  run_figures::record_refused_per_customer(14);
  run_figures::record_table("bekClientes", 7, 0);
  run_figures::record_error_line("Erro: bekCobranca: 7 de 7 linhas\nnão gravadas");
  run_figures::record_table("bekCobranca", 0, 7);
  run_figures::record_error_line("sonda-cobranca: erro inesperado: OutputError: ...");
  run_figures::record_time_limit("Tempo limite de execução excedido");

  // A run killed right after reading the database has told that much.
  EXPECT_EQ(parse_run_figures(after_customers).customers, 7u);
  EXPECT_FALSE(parse_run_figures(after_customers).refused_fixed.has_value());

  const RunFigures read = parse_run_figures(contents(channel));
  EXPECT_EQ(read.customers, 7u);
  EXPECT_EQ(read.refused_fixed, 0u);
  EXPECT_EQ(read.refused_per_customer, 14u);
  ASSERT_EQ(read.tables.size(), 2u);
  EXPECT_EQ(read.tables[0].table, "bekClientes");
  EXPECT_EQ(read.tables[0].written, 7u);
  EXPECT_EQ(read.tables[1].table, "bekCobranca");
  EXPECT_EQ(read.tables[1].not_written, 7u);
  EXPECT_EQ(read.first_error, "Erro: bekCobranca: 7 de 7 linhas não gravadas");
  EXPECT_TRUE(read.time_limit_reached);
  EXPECT_EQ(read.first_error, run_figures::current().first_error);
  ::close(channel);

  // A line cut off by the kill, and lines of no known figure, count for nothing.
  const RunFigures cut =
      parse_run_figures("clientes 7\nquem sabe 3\nrecusados_fixos x\nclientes 9");
  EXPECT_EQ(cut.customers, 7u);
  EXPECT_FALSE(cut.refused_fixed.has_value());
}

TEST(RunFigures, ALongErrorLineIsCutBeforeACharacterThatWouldPassTheLimit) {
  const std::string long_line = std::string(kMaxOutcomeErrorBytes - 1, 'x') + "ção";
  const RunFigures figures = parse_run_figures(run_figures::time_limit_records(long_line));
  ASSERT_TRUE(figures.first_error.has_value());
  EXPECT_EQ(*figures.first_error, std::string(kMaxOutcomeErrorBytes - 1, 'x'));
  EXPECT_TRUE(figures.time_limit_reached);
}

}  // namespace
}  // namespace sonda::test
