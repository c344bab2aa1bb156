#pragma once

#include <charconv>
#include <optional>
#include <string_view>

namespace sonda {

// The number that the whole of `text` writes in decimal digits (a leading '-' for a signed
// Number), when it fits Number; nothing for an empty text, a blank, a '+', any other character
// or a number out of range.
template <typename Number>
std::optional<Number> parse_whole_number(std::string_view text) {
  Number value{};
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

}  // namespace sonda
