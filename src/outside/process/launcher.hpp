#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/failure.hpp"

namespace sonda {

// The descriptor on which a detached run finds the bytes handed over to it, at offset 0, the
// one through which it holds its run lock (see run_lock.hpp), and the one on which it leaves,
// by appending, what the process waiting for it reads once it has ended, however it ends.
inline constexpr int kHandedOverFd = 3;
inline constexpr int kRunLockFd = 4;
inline constexpr int kRunFiguresFd = 5;

// The most of what a detached run leaves on kRunFiguresFd that is read back.
inline constexpr std::size_t kMaxRunFiguresBytes = 64 * 1024;

// How a detached run ended, as the process that waited for it saw it.
struct EndedRun {
  int wait_status = 0;                            // as waitpid() gives it
  std::chrono::system_clock::time_point started;  // just before the run was started
  std::chrono::duration<double> duration{0};      // from then to its end
  std::string figures;                            // what it left on kRunFiguresFd
};

struct DetachedRun {
  std::string invocation_name;         // the new run's program name (its argv[0])
  std::vector<std::string> arguments;  // after the program name; seen by ps: no secrets
  std::string handed_over;             // readable by the new run on kHandedOverFd only
  std::string description;             // what the log's first line calls the run (no secrets)
  std::string log_path;                // receives the run's standard output and error
  std::string lock_path;               // the lock that lets one such run go at a time
  // Called in the waiting process once the run has ended and its last line is in the log, still
  // holding the lock (so the next run starts after it); a text it returns goes to the log as
  // one more line. It must bound its own waits.
  std::function<std::optional<std::string>(const EndedRun&)> after_end;
};

enum class LaunchOutcome { started, already_running };

// Starts this same program again, fully detached: a new session, no terminal, standard input
// from /dev/null, standard output and error appended to `log_path` (opened as a private file,
// see private_file.hpp), `handed_over` in a sealed memory file on kHandedOverFd (see
// handed_over_file.hpp), the run lock on kRunLockFd, an empty memory file on kRunFiguresFd, no
// other inherited descriptor, and not waited for. A watcher in the new session writes a first
// line when the run starts and a last one with its exit status, then calls `after_end`, and
// holds the lock until then, as the run itself does.
//
// While an earlier run holds the lock, nothing is started and the log is not emptied: one line
// saying so is appended to it, and the result is already_running. Otherwise the log is emptied
// and the result is started once the run has been handed over. Raises LaunchError when the log
// or the lock file cannot be opened safely, `handed_over` not be handed over or the process not
// made.
LaunchOutcome start_detached(const DetachedRun& run);

// Whether `fd` is the memory file that the watcher of a detached run gave it on kRunFiguresFd
// (not, say, a file a hand-typed command redirected there).
bool is_run_figures_channel(int fd);

}  // namespace sonda
