#include "discovery/discovery_document.hpp"

#include <cmath>

#include "console/value_text.hpp"

namespace sonda {

namespace {

constexpr char kHex[] = "0123456789abcdef";
constexpr char32_t kReplacement = 0xFFFD;

void append_unit(std::string& out, unsigned unit) {
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(unit >> shift) & 0xF]);
}

// Decodes the UTF-8 sequence at text[i] and advances i; malformed bytes give U+FFFD.
char32_t next_code_point(std::string_view text, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  int length = lead >= 0xF0 && lead <= 0xF4   ? 4
               : lead >= 0xE0 && lead <= 0xEF ? 3
               : lead >= 0xC2 && lead <= 0xDF ? 2
                                              : 0;
  if (length == 0 || i + length > text.size()) {
    ++i;
    return kReplacement;
  }
  char32_t point = lead & (0x7F >> length);
  for (int k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    point = point << 6 | (next & 0x3F);
  }
  const bool overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
  if (overlong || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += static_cast<std::size_t>(length);
  return point;
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
    const char32_t point = next_code_point(text, i);
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

std::string discovery_document(std::span<const MacroEntry> discovery) {
  std::string out;
  out.reserve(16 + discovery.size() * 256);
  out += "{\"data\": [";
  const char* entry_separator = "";
  for (const MacroEntry& entry : discovery) {
    out += entry_separator;
    entry_separator = ", ";
    out.push_back('{');
    const char* field_separator = "";
    for (const MacroField& field : entry.fields()) {
      out += field_separator;
      field_separator = ", ";
      append_string(out, field.name.text());
      out += ": ";
      append_value(out, field.value);
    }
    out.push_back('}');
  }
  out += "]}";
  return out;
}

void append_json_string(std::string& out, std::string_view text) { append_string(out, text); }

}  // namespace sonda
