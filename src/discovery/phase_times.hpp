#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sonda {

// The wall time of each phase of a discovery run, for the benchmark: when `file` is named,
// write() puts there a JSON object with the seconds of every phase and the process's peak
// resident memory in KiB. Otherwise nothing is written.
class PhaseTimes {
 public:
  explicit PhaseTimes(std::optional<std::string> file);

  // Ends the phase that began at the previous mark (or at construction).
  void mark(std::string_view phase);
  void write() const;

 private:
  using Clock = std::chrono::steady_clock;
  std::optional<std::string> file_;
  Clock::time_point last_;
  std::vector<std::pair<std::string, double>> phases_;
};

}  // namespace sonda
