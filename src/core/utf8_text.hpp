#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sonda {

// One code point read from UTF-8 text, and the bytes it took.
struct Utf8Point {
  char32_t point = 0;
  std::size_t length = 0;
};

// The code point whose sequence starts at text[i] (i < text.size()). A byte that starts no
// well-formed sequence reads as U+FFFD and takes one byte, so every malformed byte of a text
// becomes one U+FFFD.
Utf8Point decode_utf8(std::string_view text, std::size_t i);

// True when `text` is well-formed UTF-8: no stray continuation byte, no cut sequence, no
// overlong form, surrogate or code point above U+10FFFF.
bool valid_utf8(std::string_view text);

// Appends `text` with every byte that does not belong to a well-formed sequence replaced by
// U+FFFD (a Latin-1 "ç" of a SQL_ASCII database becomes one U+FFFD), as the discovery document
// does.
void append_repaired_utf8(std::string& out, std::string_view text);

}  // namespace sonda
