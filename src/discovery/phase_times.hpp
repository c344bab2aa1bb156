#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sonda {

// The wall time of each phase of a discovery run, for the benchmark: when the environment
// variable SONDA_PHASE_TIMES names a file, write() puts there a JSON object with the seconds of
// every phase and the process's peak resident memory in KiB. Otherwise nothing is written.
class PhaseTimes {
 public:
  PhaseTimes();

  // Ends the phase that began at the previous mark (or at construction).
  void mark(std::string_view phase);
  void write() const;

 private:
  using Clock = std::chrono::steady_clock;
  const char* file_;
  Clock::time_point last_;
  std::vector<std::pair<std::string, double>> phases_;
};

}  // namespace sonda
