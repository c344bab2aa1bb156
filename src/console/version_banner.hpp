#pragma once

#include <string>
#include <string_view>

#include "console/line_output.hpp"

namespace sonda {

// The version line: the invocation name with every "./" turned into one blank, two blanks and
// the version (invoked as ./sonda-cobranca: " sonda-cobranca  " and the version).
std::string version_line(std::string_view invocation_name);

// Writes the two banner lines (the rights notice, then the version line). The caller ends the
// run with them.
void get_version(std::string_view invocation_name, LineOutput& out = standard_output());

}  // namespace sonda
