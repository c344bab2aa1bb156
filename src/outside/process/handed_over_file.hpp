#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/unique_fd.hpp"

namespace sonda {

// The most a launcher hands over to a run: seventeen settings take a few hundred bytes.
inline constexpr std::size_t kHandedOverLimit = 1024 * 1024;

// A memory file holding `bytes`, at offset 0, sealed so that nothing can change, grow or shrink
// it any more. Raises LaunchError when it cannot be made or `bytes` passes kHandedOverLimit.
UniqueFd make_handed_over_file(std::string_view bytes);

// The bytes of the memory file on `fd`, from its offset to its end, when it is one that
// make_handed_over_file made (sealed as it seals); nothing, and `fd` left untouched, when it is
// anything else, such as a file that whatever started the program left open there. Raises
// ConfigError when it is larger than kHandedOverLimit (before reading it) or cannot be read.
std::optional<std::string> read_handed_over_file(int fd);

}  // namespace sonda
