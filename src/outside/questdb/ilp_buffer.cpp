#include "outside/questdb/ilp_buffer.hpp"

#include <time.h>

#include "console/value_text.hpp"
#include "core/utf8_text.hpp"
#include "outside/questdb/questdb_conf.hpp"

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
  // QuestDB refuses a whole request for one malformed byte: such bytes become U+FFFD here, so
  // a name from a SQL_ASCII database costs a character, not its row.
  std::string repaired;
  if (!valid_utf8(text)) {
    append_repaired_utf8(repaired, text);
    text = repaired;
  }
  out.push_back('"');
  for (const char c : text) {
    if (c == '"' || c == '\\' || c == '\n' || c == '\r') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
}

// Appends "name=value" for a present value; the caller leaves absent fields out of the row.
void append_field(std::string& out, const IlpField& field) {
  struct Visitor {
    std::string& out;
    void operator()(const Absent&) const {
      throw InternalError("um campo ausente não tem forma no protocolo de linhas");
    }
    void operator()(std::int64_t v) const {
      append_integer_text(out, v);
      out.push_back('i');
    }
    void operator()(double v) const { append_real_text(out, v, NonFiniteStyle::json); }
    void operator()(std::string_view v) const { append_string(out, v); }
    void operator()(DateTime v) const {
      append_integer_text(out, v.micros);
      out.push_back('t');
    }
  };
  append_name(out, field.name);
  out.push_back('=');
  std::visit(Visitor{out}, field.value);
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
  starts_.push_back(row_start);
}

void IlpBuffer::remove_row(std::size_t index) {
  if (index >= starts_.size()) throw InternalError("linha inexistente no buffer");
  const std::size_t begin = starts_[index];
  const std::size_t end = index + 1 < starts_.size() ? starts_[index + 1] : text_.size();
  text_.erase(begin, end - begin);
  starts_.erase(starts_.begin() + static_cast<std::ptrdiff_t>(index));
  for (std::size_t i = index; i < starts_.size(); ++i) starts_[i] -= end - begin;
}

void IlpBuffer::clear() {
  text_.clear();
  starts_.clear();
}

}  // namespace sonda
