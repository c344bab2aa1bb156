#include "timeseries/row_limits.hpp"

#include <cstdio>

#include "console/value_text.hpp"

namespace sonda {

namespace {

// INT_MIN is QuestDB's null of an INT column: it would be stored as no value.
constexpr std::int64_t kLowestInt = -2'147'483'647;
constexpr std::int64_t kHighestInt = 2'147'483'647;

// The date alone when the value is at midnight, as registration dates mostly are.
std::string date_text(const FieldValue& value) {
  const auto* date_time = std::get_if<DateTime>(&value);
  if (date_time == nullptr) return value_text(value);
  const CivilDateTime civil = to_civil(*date_time);
  if (civil.hour != 0 || civil.minute != 0 || civil.second != 0 || civil.microsecond != 0) {
    return value_text(value);
  }
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", civil.year, civil.month, civil.day);
  return text;
}

}  // namespace

std::optional<std::string> unwritable_reason(const SnapshotTable& table, const MacroEntry& entry,
                                             std::span<const IlpField> fields) {
  for (std::size_t i = 0; i < table.columns.size() && i < fields.size(); ++i) {
    const SnapshotColumn& column = table.columns[i];
    const FieldValue& value = fields[i].value;
    switch (column.limit) {
      case ColumnLimit::none:
        break;
      case ColumnLimit::int32:
        if (const auto* integer = std::get_if<std::int64_t>(&value);
            integer && (*integer < kLowestInt || *integer > kHighestInt)) {
          return std::string(column.column) + " " + value_text(value) + " fora da faixa de INT";
        }
        break;
      case ColumnLimit::designated_timestamp:
        if (const auto* instant = std::get_if<DateTime>(&value); instant && instant->micros < 0) {
          return std::string(column.column) + " " + date_text(entry.at(column.macro)) +
                 " antes de 1970";
        }
        break;
    }
  }
  return std::nullopt;
}

}  // namespace sonda
