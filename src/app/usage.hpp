#pragma once

#include <span>
#include <string>
#include <string_view>

namespace sonda {

// Whether the arguments after the program name ask for help: "--help", "-h" or "help" alone.
bool asks_for_help(std::span<const char* const> arguments);

// The short usage for people, in Portuguese: the command line, the seventeen settings in order,
// the environment variables the probe reads, and where the manual is.
std::string_view usage_text();

}  // namespace sonda
