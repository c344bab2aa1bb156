#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace sonda {

// Every failure the probe raises: a kind (the name shown in diagnostics) and a message in
// Portuguese. Messages never carry a secret: no password, token or connection string.
class Failure : public std::runtime_error {
 public:
  // `kind` must be a static text, such as a string literal.
  Failure(std::string_view kind, const std::string& message)
      : std::runtime_error(message), kind_(kind) {}

  std::string_view kind() const noexcept { return kind_; }

 private:
  std::string_view kind_;
};

// A broken internal contract (a caller passed what an operation never accepts).
class InternalError : public Failure {
 public:
  explicit InternalError(const std::string& message) : Failure("InternalError", message) {}
};

}  // namespace sonda
