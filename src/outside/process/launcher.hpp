#pragma once

#include <string>
#include <vector>

#include "core/failure.hpp"

namespace sonda {

// The descriptor on which a detached run finds the bytes handed over to it, at offset 0, and the
// one through which it holds its run lock (see run_lock.hpp).
inline constexpr int kHandedOverFd = 3;
inline constexpr int kRunLockFd = 4;

struct DetachedRun {
  std::string invocation_name;         // the new run's program name (its argv[0])
  std::vector<std::string> arguments;  // after the program name; seen by ps: no secrets
  std::string handed_over;             // readable by the new run on kHandedOverFd only
  std::string description;             // what the log's first line calls the run (no secrets)
  std::string log_path;                // receives the run's standard output and error
  std::string lock_path;               // the lock that lets one such run go at a time
};

enum class LaunchOutcome { started, already_running };

// Starts this same program again, fully detached: a new session, no terminal, standard input
// from /dev/null, standard output and error appended to `log_path` (opened as a private file,
// see private_file.hpp), `handed_over` in a sealed memory file on kHandedOverFd (see
// handed_over_file.hpp), the run lock on kRunLockFd, no other inherited descriptor, and not
// waited for. A watcher in the new session writes a first line when the run starts and a last
// one with its exit status, and holds the lock until then, as the run itself does.
//
// While an earlier run holds the lock, nothing is started and the log is not emptied: one line
// saying so is appended to it, and the result is already_running. Otherwise the log is emptied
// and the result is started once the run has been handed over. Raises LaunchError when the log
// or the lock file cannot be opened safely, `handed_over` not be handed over or the process not
// made.
LaunchOutcome start_detached(const DetachedRun& run);

}  // namespace sonda
