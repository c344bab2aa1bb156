#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/macro_entries.hpp"

namespace sonda {

// About the size of each piece of the document handed on as it is written.
inline constexpr std::size_t kDocumentPiece = 64 * 1024;

// Whether each entry of the document keeps the customer's amounts, "{#VALOR_DIVIDA}" and
// "{#TITULOS_EM_ATRASO}". They change on most runs, and a Zabbix 6.0 server works through every
// customer again whenever the document changes (minutes at 100,000 customers); without them the
// document changes only with the customers themselves, so that the server can discard it
// unchanged. The amounts still arrive every run as the customers' item values.
enum class DocumentAmounts { kept, left_out };

// The low-level-discovery document: {"data": [entry, ...]} with each entry an object of its
// fields in entry order. Written byte for byte this way: ", " between members and elements,
// ": " after a name, no other blank; printable ASCII as it is but " and \ (escaped), \n \r \t
// \b \f, every other character as \u with four lowercase hex digits (two surrogates beyond
// U+FFFF), the solidus unescaped; integers as digits, real numbers in their console form, and
// absent values, NaN and the infinities as null, so that the document is always valid JSON. Bytes
// that are not UTF-8 become U+FFFD. The document is printable ASCII throughout.
//
// It goes to `sink` in pieces of about kDocumentPiece bytes, in order, as it is written: a
// document of hundreds of megabytes is never held whole. Time is proportional to its length.
void write_discovery_document(const MacroEntries& discovery, DocumentAmounts amounts,
                              const std::function<void(std::string_view)>& sink);

// Appends `text` as a JSON string, escaped as in the discovery document.
void append_json_string(std::string& out, std::string_view text);

}  // namespace sonda
