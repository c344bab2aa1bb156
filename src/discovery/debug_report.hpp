#pragma once

#include "console/line_output.hpp"
#include "discovery/customer_entries.hpp"

namespace sonda {

// The debug report: the "Modo debug ativado." line, the version in green, the customer heading
// in cyan, the customer table (print_dict_list of the discovery entries), the general heading
// and the four totals, each after a 47-character label ("None" for an absent total). Colour
// codes are written whether or not the output is a terminal.
void print_debug_report(const CustomerEntries& entries, LineOutput& out = standard_output());

}  // namespace sonda
