#pragma once

#include "console/line_output.hpp"
#include "core/macro_entries.hpp"

namespace sonda {

// Writes each record as a block of aligned "key value" lines followed by an empty line. Widths
// count code points and are worked out afresh for every record; an absent value counts four
// characters and gets a line with its key alone. Raises InternalError on a record without
// fields. An empty list writes nothing.
void print_dict_list(const MacroEntries& dict_list, LineOutput& out = standard_output());

}  // namespace sonda
