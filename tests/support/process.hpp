#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sonda::test {

struct ProcessResult {
  int status = -1;  // exit status, or -1 when ended by a signal
  int signal = 0;
  std::string out;
  std::string err;
  std::chrono::milliseconds elapsed{0};
};

struct ProcessOptions {
  std::optional<std::string> argv0;                       // default: the program path
  std::map<std::string, std::optional<std::string>> env;  // set (value) or unset (nullopt)
  std::optional<std::string> stdout_path;                 // standard output to this file instead
  std::chrono::seconds timeout{60};                       // then the process is killed
  std::optional<std::string> stdin_text;
  // Runs in the child just before the program starts (to enter namespaces, say); it reports a
  // failure by ending the child with _exit.
  std::function<void()> prepare_child;
};

// A started process whose output is collected by wait().
class RunningProcess {
 public:
  RunningProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const ProcessOptions& options);
  RunningProcess(const RunningProcess&) = delete;
  RunningProcess& operator=(const RunningProcess&) = delete;
  ~RunningProcess();

  int pid() const { return pid_; }
  // Collects the output until both streams close and the process has ended.
  ProcessResult wait();

 private:
  int pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  std::chrono::steady_clock::time_point start_;
  std::chrono::seconds timeout_;
  bool waited_ = false;
};

// Starts the probe.
std::unique_ptr<RunningProcess> start_probe(const std::vector<std::string>& arguments,
                                            const ProcessOptions& options = {});

// Runs `program` with `arguments` (after argv[0]) and collects its output until both streams
// close and the process has ended.
ProcessResult run_process(const std::string& program, const std::vector<std::string>& arguments,
                          const ProcessOptions& options = {});

// The probe built with these tests.
const std::string& probe_path();

// Runs the probe.
ProcessResult run_probe(const std::vector<std::string>& arguments,
                        const ProcessOptions& options = {});

// Seventeen arguments: the mode, then `host`... with the given overrides by position (1..17).
std::vector<std::string> full_arguments(const std::string& mode,
                                        const std::map<int, std::string>& overrides = {});

}  // namespace sonda::test
