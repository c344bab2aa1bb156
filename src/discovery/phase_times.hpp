#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sonda {

// The wall time and the peak resident memory of each phase of a discovery run, for the
// benchmark: when `file` is named, write() puts there a JSON object with the seconds of every
// phase, the peak of every phase in KiB ("<phase>_peak_kib") and the whole run's peak
// ("peak_rss_kib"). Otherwise nothing is measured or written.
class PhaseTimes {
 public:
  explicit PhaseTimes(std::optional<std::string> file);

  // Ends the phase that began at the previous mark (or at construction).
  void mark(std::string_view phase);
  void write() const;

 private:
  using Clock = std::chrono::steady_clock;
  struct Phase {
    std::string name;
    double seconds;
    long peak_kib;
  };
  std::optional<std::string> file_;
  Clock::time_point last_;
  std::vector<Phase> phases_;
};

}  // namespace sonda
