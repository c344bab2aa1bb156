#include "discovery/discovery_document.hpp"

#include <cmath>

#include "console/value_text.hpp"
#include "core/macro_names.hpp"
#include "core/utf8_text.hpp"

namespace sonda {

namespace {

constexpr char kHex[] = "0123456789abcdef";

void append_unit(std::string& out, unsigned unit) {
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(unit >> shift) & 0xF]);
}

void append_string(std::string& out, std::string_view text) {
  out.push_back('"');
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c >= 0x20 && c <= 0x7E) {
      if (c == '"' || c == '\\') out.push_back('\\');
      out.push_back(c);
      ++i;
      continue;
    }
    switch (c) {
      case '\n':
        out += "\\n";
        ++i;
        continue;
      case '\r':
        out += "\\r";
        ++i;
        continue;
      case '\t':
        out += "\\t";
        ++i;
        continue;
      case '\b':
        out += "\\b";
        ++i;
        continue;
      case '\f':
        out += "\\f";
        ++i;
        continue;
      default:
        break;
    }
    if (static_cast<unsigned char>(c) < 0x80) {  // the other control characters and DEL
      append_unit(out, static_cast<unsigned char>(c));
      ++i;
      continue;
    }
    const auto [point, length] = decode_utf8(text, i);
    i += length;
    if (point > 0xFFFF) {
      const char32_t offset = point - 0x10000;
      append_unit(out, 0xD800 + (offset >> 10));
      append_unit(out, 0xDC00 + (offset & 0x3FF));
    } else {
      append_unit(out, point);
    }
  }
  out.push_back('"');
}

void append_value(std::string& out, const FieldValue& value) {
  struct Visitor {
    std::string& out;
    void operator()(const Absent&) const { out += "null"; }
    void operator()(std::int64_t v) const { append_integer_text(out, v); }
    void operator()(double v) const {
      // JSON has no NaN or infinity: one such amount would make Zabbix refuse the whole
      // document, and with it the discovery of every customer.
      if (!std::isfinite(v)) {
        out += "null";
        return;
      }
      append_real_text(out, v, NonFiniteStyle::json);
    }
    void operator()(std::string_view v) const { append_string(out, v); }
    void operator()(DateTime v) const { append_string(out, value_text(v)); }
  };
  std::visit(Visitor{out}, value);
}

}  // namespace

void write_discovery_document(const MacroEntries& discovery, DocumentAmounts amounts,
                              const std::function<void(std::string_view)>& sink) {
  const auto is_left_out = [amounts](const MacroName& name) {
    return amounts == DocumentAmounts::left_out &&
           (name == macro::VALOR_DIVIDA || name == macro::TITULOS_EM_ATRASO);
  };
  std::string out;
  out.reserve(2 * kDocumentPiece);
  out += "{\"data\": [";
  MacroEntry entry;
  for (std::size_t i = 0; i < discovery.size(); ++i) {
    discovery.fill(i, entry);
    if (i > 0) out += ", ";
    out.push_back('{');
    const char* field_separator = "";
    for (const MacroField& field : entry.fields()) {
      if (is_left_out(field.name)) continue;
      out += field_separator;
      field_separator = ", ";
      append_string(out, field.name.text());
      out += ": ";
      append_value(out, field.value);
    }
    out.push_back('}');
    if (out.size() >= kDocumentPiece) {
      sink(out);
      out.clear();
    }
  }
  out += "]}";
  sink(out);
}

void append_json_string(std::string& out, std::string_view text) { append_string(out, text); }

}  // namespace sonda
