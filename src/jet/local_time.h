// The local time of day, read portably. The C library's localtime hands
// every caller the same buffer; the engine reads it only through here, under
// one lock.
#pragma once

#include <ctime>

namespace jet {

struct LocalTime {
  std::tm fields{};              // local calendar date and time of day
  long utc_offset_seconds = 0;   // local time minus UTC, summer time included
};

// The local time at `t` (seconds since 1970-01-01 UTC).
LocalTime LocalTimeAt(std::time_t t);

}  // namespace jet
