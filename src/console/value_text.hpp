#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/field_value.hpp"

namespace sonda {

// How infinities and not-a-number are spelled: inf, -inf and nan on the console; Infinity,
// -Infinity and NaN in JSON documents and in the line protocol.
enum class NonFiniteStyle { console, json };

// Appends the shortest decimal text that reads back to the same double (among equally short
// ones, the nearest), in fixed notation with at least one decimal when the decimal exponent is
// between -4 and 15 (150.0, 0.0001), otherwise in exponent form with at least two exponent
// digits (1e+16, 1.5e-05). Negative zero is -0.0.
void append_real_text(std::string& out, double value,
                      NonFiniteStyle style = NonFiniteStyle::console);
std::string real_text(double value, NonFiniteStyle style = NonFiniteStyle::console);

void append_integer_text(std::string& out, std::int64_t value);

// The text that stands for a value on the console: a text as itself, an integer as its digits,
// a real number as above, a date-time as 2024-01-31 08:00:00[.000001]; an absent value has no
// text (empty).
std::string value_text(const FieldValue& value);
void append_value_text(std::string& out, const FieldValue& value);

// Number of Unicode code points of a UTF-8 text (every byte that does not continue a sequence).
std::size_t code_point_count(std::string_view utf8);

}  // namespace sonda
