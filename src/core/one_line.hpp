#pragma once

#include <string>
#include <string_view>

namespace sonda {

// `text` on one line, for a diagnostic: every run of blanks, tabs and line breaks becomes one
// blank, and none is left at either end. Servers' and libraries' messages often span lines
// ("...failed: ...\n\tIs the server running...").
std::string one_line(std::string_view text);

}  // namespace sonda
