#include "outside/launcher.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include "core/errno_text.hpp"
#include "core/unique_fd.hpp"

namespace sonda {

namespace {

UniqueFd open_log(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd) {
    throw LaunchError("não foi possível abrir o registro " + path + ": " + errno_text());
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) {
    throw LaunchError("o registro " + path +
                      " não é um arquivo comum deste usuário; defina SONDA_LOG_DIR");
  }
  if (::ftruncate(fd.get(), 0) != 0) {
    throw LaunchError("não foi possível esvaziar o registro " + path + ": " + errno_text());
  }
  return fd;
}

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

void log_line(int fd, const std::string& text) {
  const std::string line = text + "\n";
  (void)!::write(fd, line.data(), line.size());
}

std::string status_text(int status) {
  if (WIFEXITED(status)) return "status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "encerrada pelo sinal " + std::to_string(WTERMSIG(status));
  return "estado " + std::to_string(status);
}

// In the new session: run the program and record how it ended. Never returns.
[[noreturn]] void watch(const DetachedRun& run, const std::string& program,
                        std::vector<char*>& argv, int log_fd) {
  ::setsid();
  const int null_fd = ::open("/dev/null", O_RDONLY);
  ::dup2(null_fd, STDIN_FILENO);
  ::dup2(log_fd, STDOUT_FILENO);
  ::dup2(log_fd, STDERR_FILENO);
  ::close_range(3, ~0U, 0);

  const pid_t child = ::fork();
  if (child == 0) {
    ::execv(program.c_str(), argv.data());
    log_line(STDOUT_FILENO, "=== falha ao executar " + program + ": " + errno_text());
    ::_exit(127);
  }
  if (child < 0) {
    log_line(STDOUT_FILENO, "=== falha ao criar o processo: " + errno_text());
    ::_exit(1);
  }
  log_line(STDOUT_FILENO, "=== " + local_time_text() + " início de " + run.description + " (pid " +
                              std::to_string(child) + ")");
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  log_line(STDOUT_FILENO,
           "=== " + local_time_text() + " fim de " + run.description + ": " + status_text(status));
  ::_exit(0);
}

}  // namespace

void start_detached(const DetachedRun& run) {
  const UniqueFd log = open_log(run.log_path);
  const std::string program = executable_path();

  std::vector<std::string> texts{run.invocation_name};
  texts.insert(texts.end(), run.arguments.begin(), run.arguments.end());
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);

  const pid_t watcher = ::fork();
  if (watcher < 0) throw LaunchError("não foi possível criar o processo: " + errno_text());
  if (watcher == 0) watch(run, program, argv, log.get());
}

}  // namespace sonda
