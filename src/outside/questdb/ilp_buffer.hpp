#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/field_value.hpp"

namespace sonda {

// A nanosecond count since 1970-01-01 00:00:00 UTC.
struct TimestampNanos {
  std::int64_t nanos = 0;
  // The wall clock now.
  static TimestampNanos now();
};

// One field of a row: its column name and value. The value's kind decides the field's type:
// integer (i), real number (double), text (string), date-time (timestamp); an absent value
// gives no field.
struct IlpField {
  std::string_view name;
  FieldValue value;
};

// Rows in the InfluxDB line protocol, text form (version 1), as QuestDB reads it: no symbols,
// integers with "i", doubles in shortest round-trip form (NaN, Infinity, -Infinity), strings
// quoted with \ before " \ and line breaks (bytes that are not UTF-8 become U+FFFD),
// date-times as microseconds with "t", and the designated timestamp in nanoseconds. A date-time
// is written as it reads in UTC: a caller whose date-times belong to another zone hands over
// their UTC readings (see CivilTimeZone).
class IlpBuffer {
 public:
  // Appends one row. Raises IngressError when the table name is empty or no field is present.
  void add_row(std::string_view table, std::span<const IlpField> fields, TimestampNanos at);

  // Takes out the row at `index` (from 0, in the order added), so that a request the server
  // refused for that one row can go again without it.
  void remove_row(std::size_t index);

  std::string_view text() const { return text_; }
  std::size_t rows() const { return starts_.size(); }
  std::size_t size() const { return text_.size(); }
  void clear();

 private:
  std::string text_;
  std::vector<std::size_t> starts_;  // where each row begins in text_
};

}  // namespace sonda
