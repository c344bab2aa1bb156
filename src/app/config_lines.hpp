#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sonda {

// One setting as the probe read it: a "NAME=value" line of a configuration file, or an
// environment variable (no file).
struct ConfigLine {
  std::string name;
  std::string value;
  std::string file;  // empty: the environment
  int line = 0;      // the line number in `file`

  // The setting for messages: "NAME", or "NAME em FILE, linha N".
  std::string named() const;
  // Where it came from, for messages: "na variável NAME", or "em FILE, linha N (NAME)".
  std::string source() const;
  // The file and line alone: "FILE, linha N" (the variable's name for the environment).
  std::string place() const;
};

// The lines of a configuration file in the style of the Zabbix agent's, in file order: blanks
// around names and values are trimmed, and empty lines and comments (#) are left out. A line
// without "=" comes with an empty name and the whole line as its value.
std::vector<ConfigLine> config_lines(std::string_view text, const std::string& file);

// `text` without the blanks, tabs and carriage returns at either end.
std::string_view trimmed(std::string_view text);

}  // namespace sonda
