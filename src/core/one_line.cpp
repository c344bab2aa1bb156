#include "core/one_line.hpp"

namespace sonda {

std::string one_line(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  bool blank = false;
  for (const char c : text) {
    if (c == '\n' || c == '\t' || c == ' ' || c == '\r') {
      blank = !line.empty();
      continue;
    }
    if (blank) line.push_back(' ');
    blank = false;
    line.push_back(c);
  }
  return line;
}

}  // namespace sonda
