#pragma once

#include <string_view>

#include "core/version.hpp"

namespace sonda {

// Wall-clock limit of one run, in seconds.
inline constexpr int RUNTIME_LIMIT = 300;

}  // namespace sonda
