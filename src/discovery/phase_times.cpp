#include "discovery/phase_times.hpp"

#include <sys/resource.h>

#include <fstream>

namespace sonda {

PhaseTimes::PhaseTimes(std::optional<std::string> file)
    : file_(std::move(file)), last_(Clock::now()) {}

void PhaseTimes::mark(std::string_view phase) {
  if (!file_) return;
  const auto now = Clock::now();
  phases_.emplace_back(phase, std::chrono::duration<double>(now - last_).count());
  last_ = now;
}

void PhaseTimes::write() const {
  if (!file_) return;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::ofstream out(*file_);
  out << "{";
  for (const auto& [phase, seconds] : phases_) out << "\"" << phase << "\": " << seconds << ", ";
  out << "\"peak_rss_kib\": " << usage.ru_maxrss << "}\n";
}

}  // namespace sonda
