#pragma once

#include <span>
#include <string>

#include "core/macro_entry.hpp"

namespace sonda {

// The low-level-discovery document: {"data": [entry, ...]} with each entry an object of its
// fields in entry order. Written byte for byte this way: ", " between members and elements,
// ": " after a name, no other blank; printable ASCII as it is but " and \ (escaped), \n \r \t
// \b \f, every other character as \u with four lowercase hex digits (two surrogates beyond
// U+FFFF), the solidus unescaped; integers as digits, real numbers in their console form, and
// absent values, NaN and the infinities as null, so that the document is always valid JSON. Bytes
// that are not UTF-8 become U+FFFD. The document is built in one buffer, in time proportional to
// its length.
std::string discovery_document(std::span<const MacroEntry> discovery);

// Appends `text` as a JSON string, escaped as in the discovery document.
void append_json_string(std::string& out, std::string_view text);

}  // namespace sonda
