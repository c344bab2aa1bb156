#include "console/value_text.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

namespace sonda {

namespace {

// The shortest round-trip digits of a finite, non-negative double and its decimal exponent:
// value = 0.d1d2d3... * 10^(exponent + 1), that is d1.d2d3... * 10^exponent.
struct ShortestDigits {
  std::array<char, 24> digits{};
  int count = 0;
  int exponent = 0;
};

ShortestDigits shortest_digits(double magnitude) {
  std::array<char, 40> text{};
  const auto [end, ec] = std::to_chars(text.data(), text.data() + text.size(), magnitude,
                                       std::chars_format::scientific);
  (void)ec;  // 40 characters hold any double in scientific form
  ShortestDigits result;
  const char* p = text.data();
  for (; p != end && *p != 'e'; ++p) {
    if (*p != '.') result.digits[result.count++] = *p;
  }
  ++p;  // the 'e'
  std::from_chars(*p == '+' ? p + 1 : p, end, result.exponent);
  return result;
}

void append_digits(std::string& out, const ShortestDigits& d, int from, int to) {
  for (int i = from; i < to; ++i) out.push_back(i < d.count ? d.digits[i] : '0');
}

}  // namespace

void append_real_text(std::string& out, double value, NonFiniteStyle style) {
  const bool json = style == NonFiniteStyle::json;
  if (std::isnan(value)) {
    out += json ? "NaN" : "nan";
    return;
  }
  if (std::signbit(value)) out.push_back('-');
  if (std::isinf(value)) {
    out += json ? "Infinity" : "inf";
    return;
  }
  const ShortestDigits d = shortest_digits(std::fabs(value));
  const int e = d.exponent;
  if (e >= 16 || e < -4) {
    out.push_back(d.digits[0]);
    if (d.count > 1) {
      out.push_back('.');
      append_digits(out, d, 1, d.count);
    }
    out.push_back('e');
    out.push_back(e < 0 ? '-' : '+');
    const int magnitude = e < 0 ? -e : e;
    if (magnitude < 10) out.push_back('0');
    append_integer_text(out, magnitude);
  } else if (e >= 0) {
    append_digits(out, d, 0, e + 1);
    out.push_back('.');
    if (d.count > e + 1) {
      append_digits(out, d, e + 1, d.count);
    } else {
      out.push_back('0');
    }
  } else {
    out += "0.";
    out.append(static_cast<std::size_t>(-e - 1), '0');
    append_digits(out, d, 0, d.count);
  }
}

std::string real_text(double value, NonFiniteStyle style) {
  std::string out;
  append_real_text(out, value, style);
  return out;
}

void append_integer_text(std::string& out, std::int64_t value) {
  std::array<char, 24> text{};
  const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
  out.append(text.data(), result.ptr);
}

void append_value_text(std::string& out, const FieldValue& value) {
  struct Visitor {
    std::string& out;
    void operator()(const Absent&) const {}
    void operator()(std::int64_t v) const { append_integer_text(out, v); }
    void operator()(double v) const { append_real_text(out, v); }
    void operator()(std::string_view v) const { out += v; }
    void operator()(DateTime v) const {
      const CivilDateTime c = to_civil(v);
      std::array<char, 48> text{};
      int n = std::snprintf(text.data(), text.size(), "%04d-%02u-%02u %02d:%02d:%02d", c.year,
                            c.month, c.day, c.hour, c.minute, c.second);
      if (c.microsecond != 0) {
        n += std::snprintf(text.data() + n, text.size() - static_cast<std::size_t>(n), ".%06d",
                           c.microsecond);
      }
      out.append(text.data(), static_cast<std::size_t>(n));
    }
  };
  std::visit(Visitor{out}, value);
}

std::string value_text(const FieldValue& value) {
  std::string out;
  append_value_text(out, value);
  return out;
}

std::size_t code_point_count(std::string_view utf8) {
  std::size_t count = 0;
  for (const char c : utf8) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

}  // namespace sonda
