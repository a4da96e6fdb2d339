#include "jet/local_time.h"

#include <cstdint>
#include <mutex>

namespace jet {

namespace {

std::mutex time_mutex;

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

// The broken-down time read as if it were UTC.
int64_t SecondsSinceEpoch(const std::tm& t) {
  return DaysFromCivil(t.tm_year + int64_t{1900}, t.tm_mon + int64_t{1}, t.tm_mday) * 86400 +
         t.tm_hour * int64_t{3600} + t.tm_min * int64_t{60} + t.tm_sec;
}

}  // namespace

LocalTime LocalTimeAt(std::time_t t) {
  std::tm local{}, utc{};
  {
    std::lock_guard<std::mutex> lock(time_mutex);
    if (const std::tm* l = std::localtime(&t)) local = *l;
    if (const std::tm* u = std::gmtime(&t)) utc = *u;
  }
  return LocalTime{local, static_cast<long>(SecondsSinceEpoch(local) - SecondsSinceEpoch(utc))};
}

}  // namespace jet
