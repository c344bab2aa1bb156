#pragma once

#include <sys/types.h>

#include <string>

#include "core/unique_fd.hpp"

namespace sonda {

// Keeps a second background run of one kind from starting beside the one still going: an
// exclusive flock on a file beside the run's log, held by every process of the run through an
// inherited descriptor. The kernel lets it go when the last of them ends, however it ends, so a
// holder that died never blocks the next run. The file names the pid of the run holding it,
// for the message of a launch that finds it taken; it is never removed (removing a lock file
// lets two runs lock two different files).
class RunLock {
 public:
  // Opens (or creates, mode 0600) the lock file as safely as the log; raises LaunchError.
  explicit RunLock(const std::string& path);

  // Takes the lock without waiting and empties the pid of an earlier holder; false when another
  // process holds it.
  bool try_take();

  // The pid of the run that holds the lock, as its holder wrote it; 0 when it cannot be read
  // (for a moment after the lock was taken, before the run has been started).
  pid_t holder() const;

  int fd() const { return fd_.get(); }

 private:
  UniqueFd fd_;
};

// Writes `pid` as the holder of the lock open on `lock_fd`, in place of what was there.
void record_lock_holder(int lock_fd, pid_t pid) noexcept;

}  // namespace sonda
