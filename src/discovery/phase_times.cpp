#include "discovery/phase_times.hpp"

#include <sys/resource.h>

#include <cstdlib>
#include <fstream>

namespace sonda {

PhaseTimes::PhaseTimes() : file_(std::getenv("SONDA_PHASE_TIMES")), last_(Clock::now()) {}

void PhaseTimes::mark(std::string_view phase) {
  if (file_ == nullptr) return;
  const auto now = Clock::now();
  phases_.emplace_back(phase, std::chrono::duration<double>(now - last_).count());
  last_ = now;
}

void PhaseTimes::write() const {
  if (file_ == nullptr) return;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::ofstream out(file_);
  out << "{";
  for (const auto& [phase, seconds] : phases_) out << "\"" << phase << "\": " << seconds << ", ";
  out << "\"peak_rss_kib\": " << usage.ru_maxrss << "}\n";
}

}  // namespace sonda
