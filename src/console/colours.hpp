#pragma once

#include <string_view>

namespace sonda {

// Terminal colours of the debug report (ECMA-48 select graphic rendition), written as they are
// whether or not the output is a terminal.
inline constexpr std::string_view CYAN = "\x1b[1;36m";
inline constexpr std::string_view GREEN = "\x1b[0;32m";
inline constexpr std::string_view RESET = "\x1b[0;0m";

}  // namespace sonda
