#include "outside/process/launcher.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include "console/line_output.hpp"
#include "core/errno_text.hpp"
#include "core/unique_fd.hpp"
#include "outside/process/bounded_read.hpp"
#include "outside/process/handed_over_file.hpp"
#include "outside/process/private_file.hpp"
#include "outside/process/run_lock.hpp"

namespace sonda {

namespace {

// The name of the memory file on kRunFiguresFd, as /proc shows it to the run.
constexpr std::string_view kRunFiguresName = "sonda-cobranca-resultado";

std::string executable_path() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) {
    throw LaunchError("não foi possível localizar o próprio executável: " + errno_text());
  }
  return std::string(path, static_cast<std::size_t>(length));
}

std::string local_time_text() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

void log_line(int fd, const std::string& text) { (void)write_all(fd, text + "\n"); }

std::string status_text(int status) {
  if (WIFEXITED(status)) return "status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "encerrada pelo sinal " + std::to_string(WTERMSIG(status));
  return "estado " + std::to_string(status);
}

// Moves `fd` to the fixed descriptor `target`.
void place(int fd, int target) {
  if (fd >= 0) ::dup2(fd, target);
}

// An empty memory file on kRunFiguresFd, inherited by the run, which appends to it: a file, not
// a pipe, so that the run never waits for a reader, and its records outlive it.
void open_run_figures() {
  const int fd = ::memfd_create(std::string(kRunFiguresName).c_str(), 0);
  if (fd < 0) {
    log_line(STDOUT_FILENO,
             "=== não foi possível criar o arquivo do resultado da execução: " + errno_text());
    return;
  }
  if (fd != kRunFiguresFd) {
    ::dup2(fd, kRunFiguresFd);
    ::close(fd);
  }
}

// What the run left on kRunFiguresFd, from its start, up to kMaxRunFiguresBytes.
std::string read_run_figures() {
  if (::lseek(kRunFiguresFd, 0, SEEK_SET) != 0) return "";
  return read_at_most(kRunFiguresFd, kMaxRunFiguresBytes).text;
}

// In the new session: run the program and record how it ended. Never returns.
[[noreturn]] void watch(const DetachedRun& run, const std::string& program,
                        std::vector<char*>& argv, int log_fd, int lock_fd, int handed_over_fd) {
  ::setsid();
  // Each descriptor first goes above the fixed ones, so that placing one cannot close another.
  const int log = ::fcntl(log_fd, F_DUPFD_CLOEXEC, 10);
  const int lock = ::fcntl(lock_fd, F_DUPFD_CLOEXEC, 10);
  const int handed_over = ::fcntl(handed_over_fd, F_DUPFD_CLOEXEC, 10);
  place(::open("/dev/null", O_RDONLY | O_CLOEXEC), STDIN_FILENO);
  place(log, STDOUT_FILENO);
  place(log, STDERR_FILENO);
  place(handed_over, kHandedOverFd);
  place(lock, kRunLockFd);
  ::close_range(kRunLockFd + 1, ~0U, 0);
  open_run_figures();

  const auto started = std::chrono::system_clock::now();
  const auto clock_start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    ::execv(program.c_str(), argv.data());
    log_line(STDOUT_FILENO, "=== falha ao executar " + program + ": " + errno_text());
    ::_exit(127);
  }
  ::close(kHandedOverFd);
  if (child < 0) {
    log_line(STDOUT_FILENO, "=== falha ao criar o processo: " + errno_text());
    ::_exit(1);
  }
  record_lock_holder(kRunLockFd, child);
  log_line(STDOUT_FILENO, "=== " + local_time_text() + " início de " + run.description + " (pid " +
                              std::to_string(child) + ")");
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  const std::chrono::duration<double> duration = std::chrono::steady_clock::now() - clock_start;
  log_line(STDOUT_FILENO,
           "=== " + local_time_text() + " fim de " + run.description + ": " + status_text(status));
  if (run.after_end) {
    const EndedRun ended{status, started, duration, read_run_figures()};
    if (auto note = run.after_end(ended)) {
      log_line(STDOUT_FILENO, "=== " + local_time_text() + " " + *note);
    }
  }
  ::_exit(0);
}

std::string holder_text(pid_t pid) { return pid > 0 ? std::to_string(pid) : "desconhecido"; }

}  // namespace

bool is_run_figures_channel(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return false;
  char target[PATH_MAX];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
  if (length <= 0) return false;
  return std::string_view(target, static_cast<std::size_t>(length))
      .starts_with("/memfd:" + std::string(kRunFiguresName) + " ");
}

LaunchOutcome start_detached(const DetachedRun& run) {
  // First, so that settings that cannot be handed over leave an earlier run's log as it is.
  const UniqueFd handed_over = make_handed_over_file(run.handed_over);
  const UniqueFd log = open_private_file(run.log_path, "o registro");
  RunLock lock(run.lock_path);
  if (!lock.try_take()) {
    log_line(log.get(), "=== " + local_time_text() + " execução anterior ainda em andamento (pid " +
                            holder_text(lock.holder()) + "): nada iniciado");
    return LaunchOutcome::already_running;
  }
  // Only now that no run writes into it.
  if (::ftruncate(log.get(), 0) != 0) {
    throw LaunchError("não foi possível esvaziar o registro " + run.log_path + ": " + errno_text());
  }
  const std::string program = executable_path();

  std::vector<std::string> texts{run.invocation_name};
  texts.insert(texts.end(), run.arguments.begin(), run.arguments.end());
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);

  const pid_t watcher = ::fork();
  if (watcher < 0) throw LaunchError("não foi possível criar o processo: " + errno_text());
  if (watcher == 0) watch(run, program, argv, log.get(), lock.fd(), handed_over.get());
  return LaunchOutcome::started;
}

}  // namespace sonda
