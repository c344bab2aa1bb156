#pragma once

#include <ostream>

#include "console/value_text.hpp"
#include "core/field_value.hpp"

namespace sonda {

// How GoogleTest shows the kinds of a FieldValue in failure messages.
inline void PrintTo(const Absent&, std::ostream* os) { *os << "(absent)"; }
inline void PrintTo(const DateTime& value, std::ostream* os) {
  *os << "DateTime(" << value_text(value) << ")";
}

namespace test {

inline DateTime at(int year, unsigned month, unsigned day, int hour = 0, int minute = 0,
                   int second = 0, int microsecond = 0) {
  return from_civil({year, month, day, hour, minute, second, microsecond});
}

inline FieldValue integer(std::int64_t value) { return value; }
inline FieldValue text(std::string_view value) { return value; }

}  // namespace test
}  // namespace sonda
