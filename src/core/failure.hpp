#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace sonda {

// Every failure the probe raises: a kind (the name shown in diagnostics) and a message in
// Portuguese. Messages never carry a secret: no password, token, key or connection string.
// The kinds are shared vocabulary: a client of the outside world raises them, and the entry,
// which catches every failure in one place, reports them by kind.
class Failure : public std::runtime_error {
 public:
  // `kind` must be a static text, such as a string literal.
  Failure(std::string_view kind, const std::string& message)
      : std::runtime_error(message), kind_(kind) {}

  std::string_view kind() const noexcept { return kind_; }

 private:
  std::string_view kind_;
};

// The name of a failure kind, as a template argument: each kind is its own type, to be caught
// on its own, and its name lives as long as the program.
template <std::size_t N>
struct KindName {
  constexpr KindName(const char (&name)[N]) {  // NOLINT: implicit by design
    for (std::size_t i = 0; i < N; ++i) text[i] = name[i];
  }
  char text[N];
};

template <KindName Name>
class FailureKind : public Failure {
 public:
  explicit FailureKind(const std::string& message)
      : Failure(std::string_view(Name.text, sizeof Name.text - 1), message) {}
};

// A broken internal contract (a caller passed what an operation never accepts).
using InternalError = FailureKind<"InternalError">;
// A setting is missing or unusable.
using ConfigError = FailureKind<"ConfigError">;
// The database refused a connection or a statement. The message names the database error
// (libpq's text, and the SQLSTATE when there is one), never the password.
using DatabaseError = FailureKind<"DatabaseError">;
// A result holds a value the probe cannot represent (a column type without a FieldValue kind,
// an infinite timestamp) or that the run cannot use (a total that is not a number).
using DataError = FailureKind<"DataError">;
// The Zabbix server could not be reached or did not take a value.
using ZabbixError = FailureKind<"ZabbixError">;
// Any failure of the QuestDB ingestion client. Its message never carries a password or token.
using IngressError = FailureKind<"IngressError">;
// A background run could not be started.
using LaunchError = FailureKind<"LaunchError">;
// Standard output (or error) could not be written.
using OutputError = FailureKind<"OutputError">;
// The run's time limit has passed. Its text names the limit in seconds.
using TimeoutException = FailureKind<"TimeoutException">;

}  // namespace sonda
