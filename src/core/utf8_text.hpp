#pragma once

#include <string>
#include <string_view>

namespace sonda {

// True when `text` is well-formed UTF-8: no stray continuation byte, no cut sequence, no
// overlong form, surrogate or code point above U+10FFFF.
bool valid_utf8(std::string_view text);

// Appends `text` with every byte that does not belong to a well-formed sequence replaced by
// U+FFFD (a Latin-1 "ç" of a SQL_ASCII database becomes one U+FFFD), as the discovery document
// does.
void append_repaired_utf8(std::string& out, std::string_view text);

}  // namespace sonda
