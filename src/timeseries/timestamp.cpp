#include "timeseries/timestamp.hpp"

#include <time.h>

namespace sonda {

std::int64_t timestamp_from(std::int64_t epoch_seconds, std::int64_t microseconds) {
  const double seconds =
      static_cast<double>(epoch_seconds) + static_cast<double>(microseconds) / 1e6;
  return static_cast<std::int64_t>(seconds * 1000000.0);
}

std::int64_t get_timestamp() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return timestamp_from(now.tv_sec, now.tv_nsec / 1000);
}

}  // namespace sonda
