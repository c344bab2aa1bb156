#pragma once

#include <cerrno>
#include <string>

namespace sonda {

// The system's description of an errno value, the current one by default ("Connection
// refused").
std::string errno_text(int error = errno);

}  // namespace sonda
