#include "outside/ilp_buffer.hpp"

#include <time.h>

#include <chrono>

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
  const CivilDateTime civil = to_civil(value);
  std::tm local{};
  local.tm_year = civil.year - 1900;
  local.tm_mon = static_cast<int>(civil.month) - 1;
  local.tm_mday = static_cast<int>(civil.day);
  local.tm_hour = civil.hour;
  local.tm_min = civil.minute;
  local.tm_sec = civil.second;
  local.tm_isdst = -1;  // the zone's rule for that date decides
  const std::time_t seconds = std::mktime(&local);
  return static_cast<std::int64_t>(seconds) * 1'000'000 + civil.microsecond;
}

}  // namespace sonda
