#pragma once

#include <cstdint>

namespace sonda {

// The current time in whole microseconds since 1970-01-01 00:00:00 UTC: the seconds since the
// epoch as a double, times 1000000 in double precision, truncated (so it may be one
// microsecond below the exact count).
std::int64_t get_timestamp();

// The same computation for a given instant.
std::int64_t timestamp_from(std::int64_t epoch_seconds, std::int64_t microseconds);

}  // namespace sonda
