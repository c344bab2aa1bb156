#include "core/utf8_text.hpp"

namespace sonda {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The well-formed sequence at text[i], or a length of 0 when the byte there starts none.
Utf8Point well_formed_at(std::string_view text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) return {lead, 1};
  const std::size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xC2 && lead <= 0xDF ? 2
                                                            : 0;
  if (length == 0 || i + length > text.size()) return {};
  char32_t point = lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return {};
    point = point << 6 | (next & 0x3F);
  }
  const bool overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
  if (overlong || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return {};
  return {point, length};
}

}  // namespace

Utf8Point decode_utf8(std::string_view text, std::size_t i) {
  const Utf8Point found = well_formed_at(text, i);
  return found.length != 0 ? found : Utf8Point{0xFFFD, 1};
}

bool valid_utf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    // Runs of ASCII, the bulk of every text here, skip the decoder.
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    const std::size_t length = well_formed_at(text, i).length;
    if (length == 0) return false;
    i += length;
  }
  return true;
}

void append_repaired_utf8(std::string& out, std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = well_formed_at(text, i).length;
    if (length == 0) {
      out += kReplacement;
      ++i;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
}

}  // namespace sonda
