#include "support/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string_view>

namespace sonda::test {

namespace {

void read_some(int& fd, std::string& into) {
  char buffer[65536];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n > 0) {
    into.append(buffer, static_cast<std::size_t>(n));
  } else if (n == 0 || errno != EINTR) {
    ::close(fd);
    fd = -1;
  }
}

// What the child needs, made before the fork: the tests fork while other threads of theirs run
// (fake servers), and one of those may hold the allocator's lock at that moment, which a child
// that allocates would then wait on for ever (AddressSanitizer's allocator is not reset in a
// forked child). Between fork and exec the child only duplicates descriptors and calls execve.
struct ChildImage {
  std::vector<std::string> argument_texts;
  std::vector<std::string> environment_texts;
  std::vector<char*> argv;
  std::vector<char*> envp;
};

ChildImage child_image(const std::string& program, const std::vector<std::string>& arguments,
                       const ProcessOptions& options) {
  ChildImage image;
  image.argument_texts.push_back(options.argv0.value_or(program));
  image.argument_texts.insert(image.argument_texts.end(), arguments.begin(), arguments.end());
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string name(text.substr(0, text.find('=')));
    if (!options.env.contains(name)) image.environment_texts.emplace_back(text);
  }
  for (const auto& [name, value] : options.env) {
    if (value) image.environment_texts.push_back(name + "=" + *value);
  }
  for (std::string& text : image.argument_texts) image.argv.push_back(text.data());
  image.argv.push_back(nullptr);
  for (std::string& text : image.environment_texts) image.envp.push_back(text.data());
  image.envp.push_back(nullptr);
  return image;
}

[[noreturn]] void exec_child(const std::string& program, ChildImage& image,
                             const ProcessOptions& options, int stdout_fd, int err_fd, int in_fd) {
  ::dup2(in_fd, STDIN_FILENO);
  ::dup2(stdout_fd, STDOUT_FILENO);
  ::dup2(err_fd, STDERR_FILENO);
  if (options.prepare_child) options.prepare_child();
  ::execve(program.c_str(), image.argv.data(), image.envp.data());
  ::_exit(127);
}

}  // namespace

RunningProcess::RunningProcess(const std::string& program,
                               const std::vector<std::string>& arguments,
                               const ProcessOptions& options)
    : timeout_(options.timeout) {
  int out_pipe[2], err_pipe[2], in_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0 ||
      ::pipe2(in_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe");
  }
  int stdout_fd = out_pipe[1];
  if (options.stdout_path) {
    stdout_fd =
        ::open(options.stdout_path->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (stdout_fd < 0) throw std::runtime_error("cannot open " + *options.stdout_path);
  }
  ChildImage image = child_image(program, arguments, options);
  start_ = std::chrono::steady_clock::now();
  pid_ = ::fork();
  if (pid_ == 0) exec_child(program, image, options, stdout_fd, err_pipe[1], in_pipe[0]);
  if (stdout_fd != out_pipe[1]) ::close(stdout_fd);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  ::close(in_pipe[0]);
  ::close(in_pipe[1]);  // standard input: empty
  out_fd_ = out_pipe[0];
  err_fd_ = err_pipe[0];
}

RunningProcess::~RunningProcess() {
  if (!waited_) {
    ::kill(pid_, SIGKILL);
    wait();
  }
}

ProcessResult RunningProcess::wait() {
  waited_ = true;
  ProcessResult result;
  const auto deadline = start_ + timeout_;
  bool killed = false;
  while (out_fd_ >= 0 || err_fd_ >= 0) {
    pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ::kill(pid_, SIGKILL);
      killed = true;
      break;
    }
    if (::poll(fds, 2, static_cast<int>(left.count())) <= 0) continue;
    if (out_fd_ >= 0 && fds[0].revents) read_some(out_fd_, result.out);
    if (err_fd_ >= 0 && fds[1].revents) read_some(err_fd_, result.err);
  }
  if (out_fd_ >= 0) ::close(out_fd_);
  if (err_fd_ >= 0) ::close(err_fd_);
  out_fd_ = err_fd_ = -1;
  int status = 0;
  ::waitpid(pid_, &status, 0);
  result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start_);
  if (WIFEXITED(status) && !killed) {
    result.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

ProcessResult run_process(const std::string& program, const std::vector<std::string>& arguments,
                          const ProcessOptions& options) {
  return RunningProcess(program, arguments, options).wait();
}

std::unique_ptr<RunningProcess> start_probe(const std::vector<std::string>& arguments,
                                            const ProcessOptions& options) {
  return std::make_unique<RunningProcess>(probe_path(), arguments, options);
}

const std::string& probe_path() {
  static const std::string path = SONDA_PROBE_PATH;
  return path;
}

ProcessResult run_probe(const std::vector<std::string>& arguments, const ProcessOptions& options) {
  return run_process(probe_path(), arguments, options);
}

std::vector<std::string> full_arguments(const std::string& mode,
                                        const std::map<int, std::string>& overrides) {
  std::vector<std::string> arguments = {
      mode,        "host", "127.0.0.1", "5432",           "banco",      "usuario",
      "senha-db",  "1",    "127.0.0.1", "9000",           "admin",      "senha-qdb",
      "127.0.0.1", "9000", "admin",     "senha-qdb-chat", "zabbix-host"};
  for (const auto& [position, value] : overrides) arguments.at(position - 1) = value;
  return arguments;
}

}  // namespace sonda::test
