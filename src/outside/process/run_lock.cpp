#include "outside/process/run_lock.hpp"

#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <thread>

#include "core/errno_text.hpp"
#include "outside/process/launcher.hpp"
#include "outside/process/private_file.hpp"

namespace sonda {

namespace {

// How long a launch that finds the lock taken waits for its holder to write its pid.
constexpr int kHolderReadAttempts = 25;
constexpr std::chrono::milliseconds kHolderReadPause{20};

pid_t read_pid(int fd) {
  char text[24];
  const ssize_t n = ::pread(fd, text, sizeof text, 0);
  if (n <= 0) return 0;
  pid_t pid = 0;
  const auto [end, ec] = std::from_chars(text, text + n, pid);
  if (ec != std::errc() || end == text || pid <= 0) return 0;
  return pid;
}

}  // namespace

RunLock::RunLock(const std::string& path) : fd_(open_private_file(path, "o arquivo de trava")) {}

bool RunLock::try_take() {
  while (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return false;
    if (errno != EINTR) {
      throw LaunchError("não foi possível travar a execução: " + errno_text());
    }
  }
  (void)!::ftruncate(fd_.get(), 0);
  return true;
}

pid_t RunLock::holder() const {
  for (int attempt = 1;; ++attempt) {
    if (const pid_t pid = read_pid(fd_.get()); pid > 0 || attempt == kHolderReadAttempts) {
      return pid;
    }
    std::this_thread::sleep_for(kHolderReadPause);
  }
}

void record_lock_holder(int lock_fd, pid_t pid) noexcept {
  char text[24];
  const auto [end, ec] = std::to_chars(text, text + sizeof text - 1, pid);
  *end = '\n';
  (void)!::ftruncate(lock_fd, 0);
  // The file is open for appending: the pid lands at its start once it is empty.
  (void)!::write(lock_fd, text, static_cast<std::size_t>(end + 1 - text));
}

}  // namespace sonda
