#include "discovery/debug_report.hpp"

#include <array>
#include <string>

#include "console/colours.hpp"
#include "console/dict_list.hpp"
#include "console/value_text.hpp"
#include "core/constants.hpp"

namespace sonda {

namespace {

constexpr std::string_view kCustomerHeading =
    "...============================================= Clientes "
    "==============================================...\n";
constexpr std::string_view kGeneralHeading =
    "...======================================== Informações Gerais "
    "==========================================...\n";
constexpr std::size_t kLabelWidth = 47;

std::string total_line(std::string_view label, const FieldValue& total) {
  std::string line(label);
  line.append(kLabelWidth - code_point_count(label), ' ');
  line.push_back(' ');
  if (is_absent(total)) {
    line += "None";
  } else {
    append_value_text(line, total);
  }
  return line;
}

}  // namespace

void print_debug_report(const CustomerEntries& entries, LineOutput& out) {
  out.line("Modo debug ativado.");
  out.lines(std::string(GREEN) + "\nVersão do script: " + std::string(VERSION) + std::string(CYAN) +
            " \n\n");
  out.lines(std::string(CYAN) + std::string(kCustomerHeading) + std::string(RESET) + "\n");
  print_dict_list(entries.discovery, out);
  out.lines(std::string(CYAN) + std::string(kGeneralHeading) + std::string(RESET) + "\n");
  const Totals& totals = entries.totals;
  out.line(total_line("Títulos totais em atraso:", totals.titulos_totais_em_atraso));
  out.line(total_line("Valor total em dívida:", totals.valor_total_divida));
  out.line(total_line("Títulos dentro do prazo de vencimento:", totals.titulos_totais_em_aberto));
  out.line(
      total_line("Valor em aberto dentro do prazo de vencimento:", totals.valor_total_em_aberto));
}

}  // namespace sonda
