#pragma once

#include <string>
#include <vector>

#include "core/failure.hpp"

namespace sonda {

struct DetachedRun {
  std::string invocation_name;         // the new run's program name (its argv[0])
  std::vector<std::string> arguments;  // after the program name
  std::string description;             // what the log's first line calls the run (no secrets)
  std::string log_path;                // receives the run's standard output and error
};

// Starts this same program again, fully detached: a new session, no terminal, standard input
// from /dev/null, standard output and error into `log_path` (created with mode 0600 or emptied),
// no other inherited descriptor, and not waited for. A watcher in the new session writes a
// first line when the run starts and a last one with its exit status. Returns once the run has
// been handed over; raises LaunchError when the log cannot be opened or the process not made.
void start_detached(const DetachedRun& run);

}  // namespace sonda
