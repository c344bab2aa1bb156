#include "discovery/phase_times.hpp"

#include <algorithm>
#include <fstream>

namespace sonda {

namespace {

// The process's peak resident memory since it started or since the last reset_peak(), in KiB
// (VmHWM); 0 where /proc does not tell.
long peak_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
  }
  return 0;
}

// Starts the next phase's peak from the memory in use now, so that each phase shows its own.
void reset_peak() { std::ofstream("/proc/self/clear_refs") << "5"; }

}  // namespace

PhaseTimes::PhaseTimes(std::optional<std::string> file)
    : file_(std::move(file)), last_(Clock::now()) {}

void PhaseTimes::mark(std::string_view phase) {
  if (!file_) return;
  const auto now = Clock::now();
  phases_.push_back(
      {std::string(phase), std::chrono::duration<double>(now - last_).count(), peak_kib()});
  reset_peak();
  last_ = now;
}

void PhaseTimes::write() const {
  if (!file_) return;
  long run_peak = peak_kib();
  std::ofstream out(*file_);
  out << "{";
  for (const Phase& phase : phases_) {
    out << "\"" << phase.name << "\": " << phase.seconds << ", \"" << phase.name
        << "_peak_kib\": " << phase.peak_kib << ", ";
    run_peak = std::max(run_peak, phase.peak_kib);
  }
  out << "\"peak_rss_kib\": " << run_peak << "}\n";
}

}  // namespace sonda
