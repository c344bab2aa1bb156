#pragma once

#include <string_view>

#include "core/version.hpp"

namespace sonda {

// Wall-clock limit of one run, in seconds.
inline constexpr int RUNTIME_LIMIT = 300;

// Terminal colours of the debug report (ECMA-48 select graphic rendition).
inline constexpr std::string_view CYAN = "\x1b[1;36m";
inline constexpr std::string_view GREEN = "\x1b[0;32m";
inline constexpr std::string_view RESET = "\x1b[0;0m";

}  // namespace sonda
