#include "outside/ilp_buffer.hpp"

#include <time.h>

#include <array>
#include <chrono>
#include <climits>
#include <optional>

#include "console/value_text.hpp"
#include "outside/questdb_conf.hpp"

namespace sonda {

namespace {

// Table and column names: a blank, comma, equals sign, line break or backslash would end the
// name, so each gets a backslash before it.
void append_name(std::string& out, std::string_view name) {
  for (const char c : name) {
    if (c == ' ' || c == ',' || c == '=' || c == '\n' || c == '\r' || c == '\\') {
      out.push_back('\\');
    }
    out.push_back(c);
  }
}

void append_string(std::string& out, std::string_view text) {
  out.push_back('"');
  for (const char c : text) {
    if (c == '"' || c == '\\' || c == '\n' || c == '\r') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
}

// Appends "name=value" and returns true, or nothing for an absent value.
bool append_field(std::string& out, const IlpField& field) {
  struct Visitor {
    std::string& out;
    bool operator()(const Absent&) const { return false; }
    bool operator()(std::int64_t v) const {
      append_integer_text(out, v);
      out.push_back('i');
      return true;
    }
    bool operator()(double v) const {
      append_real_text(out, v, NonFiniteStyle::json);
      return true;
    }
    bool operator()(std::string_view v) const {
      append_string(out, v);
      return true;
    }
    bool operator()(DateTime v) const {
      append_integer_text(out, local_epoch_micros(v));
      out.push_back('t');
      return true;
    }
  };
  if (is_absent(field.value)) return false;
  append_name(out, field.name);
  out.push_back('=');
  return std::visit(Visitor{out}, field.value);
}

// The epoch seconds of a date-time's whole second, read in the local time zone.
std::int64_t local_to_epoch_seconds(DateTime value) {
  const CivilDateTime civil = to_civil(value);
  std::tm local{};
  local.tm_year = civil.year - 1900;
  local.tm_mon = static_cast<int>(civil.month) - 1;
  local.tm_mday = static_cast<int>(civil.day);
  local.tm_hour = civil.hour;
  local.tm_min = civil.minute;
  local.tm_sec = civil.second;
  local.tm_isdst = -1;  // the zone's rule for that date decides
  return static_cast<std::int64_t>(std::mktime(&local));
}

}  // namespace

TimestampNanos TimestampNanos::now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return {static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec};
}

void IlpBuffer::add_row(std::string_view table, std::span<const IlpField> fields,
                        TimestampNanos at) {
  if (table.empty()) throw IngressError("nome de tabela vazio");
  const std::size_t row_start = text_.size();
  append_name(text_, table);
  char separator = ' ';
  for (const IlpField& field : fields) {
    if (is_absent(field.value)) continue;
    text_.push_back(separator);
    append_field(text_, field);
    separator = ',';
  }
  if (separator == ' ') {
    text_.resize(row_start);
    throw IngressError("a linha da tabela " + std::string(table) + " não tem nenhum campo");
  }
  text_.push_back(' ');
  append_integer_text(text_, at.nanos);
  text_.push_back('\n');
  ++rows_;
}

void IlpBuffer::clear() {
  text_.clear();
  rows_ = 0;
}

std::int64_t local_epoch_micros(DateTime value) {
  // The zone's offset changes at most once a day (at a daylight-saving transition): a day whose
  // first and last second have the same offset keeps it all day. The offset of such days is
  // remembered, which spares a mktime (and its look at /etc/localtime) for most values.
  constexpr std::int64_t kMicrosPerDay = 86'400'000'000;
  struct Day {
    std::int64_t day = INT64_MIN;
    std::optional<std::int64_t> offset;  // local minus UTC, in seconds; none if it changes
  };
  static std::array<Day, 1024> days;
  const std::int64_t day =
      value.micros >= 0 ? value.micros / kMicrosPerDay : (value.micros + 1) / kMicrosPerDay - 1;
  Day& known = days[static_cast<std::size_t>(day & 1023)];
  if (known.day != day) {
    const std::int64_t start = day * 86'400;
    const std::int64_t first = start - local_to_epoch_seconds(DateTime{start * 1'000'000});
    const std::int64_t last =
        start + 86'399 - local_to_epoch_seconds(DateTime{(start + 86'399) * 1'000'000});
    known = {day, first == last ? std::optional(first) : std::nullopt};
  }
  if (known.offset) return value.micros - *known.offset * 1'000'000;
  const std::int64_t whole_seconds =
      value.micros >= 0 ? value.micros / 1'000'000 : (value.micros + 1) / 1'000'000 - 1;
  return local_to_epoch_seconds(value) * 1'000'000 + (value.micros - whole_seconds * 1'000'000);
}

}  // namespace sonda
