#include "console/dict_list.hpp"

#include <algorithm>
#include <string>

#include "console/value_text.hpp"

namespace sonda {

namespace {

constexpr std::size_t kAbsentWidth = 4;

void pad_to(std::string& line, std::size_t start, std::size_t width) {
  const std::size_t count = code_point_count(std::string_view(line).substr(start));
  if (count < width) line.append(width - count, ' ');
}

void print_record(const MacroEntry& record, LineOutput& out, std::string& line) {
  if (record.empty()) throw InternalError("registro sem campos não pode ser exibido");

  std::size_t key_width = 0;
  std::size_t value_width = 0;
  for (const MacroField& field : record.fields()) {
    key_width = std::max(key_width, code_point_count(field.name.text()));
    line.clear();
    append_value_text(line, field.value);
    value_width =
        std::max(value_width, is_absent(field.value) ? kAbsentWidth : code_point_count(line));
  }

  for (const MacroField& field : record.fields()) {
    line.assign(field.name.text());
    pad_to(line, 0, key_width);
    if (!is_absent(field.value)) {
      line.push_back(' ');
      const std::size_t value_start = line.size();
      append_value_text(line, field.value);
      pad_to(line, value_start, value_width);
    }
    out.line(line);
  }
  out.line("");
}

}  // namespace

void print_dict_list(const MacroEntries& dict_list, LineOutput& out) {
  // Reused: one table of 500,000 records should not allocate per record or line.
  MacroEntry record;
  std::string line;
  for (std::size_t i = 0; i < dict_list.size(); ++i) {
    dict_list.fill(i, record);
    print_record(record, out, line);
  }
}

}  // namespace sonda
