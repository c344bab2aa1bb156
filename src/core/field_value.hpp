#pragma once

#include <cstdint>
#include <string_view>
#include <variant>

#include "core/date_time.hpp"

namespace sonda {

// SQL NULL.
struct Absent {
  bool operator==(const Absent&) const = default;
};

// One value read from the database and carried in entries.
//
// A text is a view: the bytes (UTF-8) belong to whoever produced the value (the query result,
// the settings, a literal) and must outlive every FieldValue that shows them. The query result
// is kept for the whole run, so texts are never copied on their way to the reports and writers.
using FieldValue = std::variant<Absent, std::int64_t, double, std::string_view, DateTime>;

inline bool is_absent(const FieldValue& value) { return std::holds_alternative<Absent>(value); }

}  // namespace sonda
