// print-statement: the probe's statements, for timing them with psql.
// Usage: print-statement customers | print-statement open-bills POP_ID
#include <cstdio>
#include <string>
#include <string_view>

#include "discovery/billing_statements.hpp"

int main(int argc, char** argv) {
  const std::string_view which = argc > 1 ? argv[1] : "";
  std::string text;
  if (which == "customers" && argc == 2) {
    text = sonda::kCustomerStatement;
  } else if (which == "open-bills" && argc == 3) {
    // The benchmark's pop_id has no quote: it needs no escaping.
    text = sonda::open_bills_statement(argv[2]);
  } else {
    std::fprintf(stderr, "uso: print-statement customers | print-statement open-bills POP_ID\n");
    return 2;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}
