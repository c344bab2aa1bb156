#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

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
// quoted with \ before " \ and line breaks, date-times as microseconds with "t" (a date-time
// has no zone: it is read in this machine's local time zone), and the designated timestamp in
// nanoseconds.
class IlpBuffer {
 public:
  // Appends one row. Raises IngressError when the table name is empty or no field is present.
  void add_row(std::string_view table, std::span<const IlpField> fields, TimestampNanos at);

  std::string_view text() const { return text_; }
  std::size_t rows() const { return rows_; }
  std::size_t size() const { return text_.size(); }
  void clear();

 private:
  std::string text_;
  std::size_t rows_ = 0;
};

// Microseconds since the epoch of a date-time read in this machine's local time zone.
std::int64_t local_epoch_micros(DateTime value);

}  // namespace sonda
