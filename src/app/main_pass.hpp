#pragma once

#include <string_view>

#include "app/run_settings.hpp"

namespace sonda {

// The limit of a run in seconds: RUNTIME_LIMIT, or for tests the whole number of seconds in
// SONDA_TEST_RUNTIME_LIMIT. Raises ConfigError when that variable is not a positive number.
int effective_runtime_limit();

// Arms the runtime limit and dispatches on the mode: the version banner, the customer
// discovery, the launcher, or nothing. Returns the exit status of a completed run; failures
// (TimeoutException included) pass to the caller with the limit disarmed.
int main_pass(const RunSettings& settings, std::string_view invocation_name);

}  // namespace sonda
