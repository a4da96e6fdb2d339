#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "jet/local_time.h"

namespace {

void SetZone(const char* zone) {
#ifdef _WIN32
  _putenv_s("TZ", zone ? zone : "");
  _tzset();
#else
  if (zone) {
    setenv("TZ", zone, 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
#endif
}

// The offset is told from the calendar, across the end of a day and a year,
// east and west of Greenwich.
TEST(LocalTimeTest, OffsetAndFieldsFollowTheZone) {
  const char* was = std::getenv("TZ");
  const std::optional<std::string> saved = was ? std::optional<std::string>(was) : std::nullopt;
  const std::time_t t = 946683000;  // 1999-12-31 23:30:00 UTC
  const struct {
    const char* zone;  // POSIX form: hours west of Greenwich
    long offset;
    int year, mday, hour;
  } rows[] = {
      {"XXX-2", 7200, 100, 1, 1},
      {"XXX+5", -18000, 99, 31, 18},
      {"XXX0", 0, 99, 31, 23},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.zone);
    SetZone(row.zone);
    const jet::LocalTime local = jet::LocalTimeAt(t);
    EXPECT_EQ(local.utc_offset_seconds, row.offset);
    EXPECT_EQ(local.fields.tm_year, row.year);
    EXPECT_EQ(local.fields.tm_mday, row.mday);
    EXPECT_EQ(local.fields.tm_hour, row.hour);
    EXPECT_EQ(local.fields.tm_min, 30);
  }
  SetZone(saved ? saved->c_str() : nullptr);
}

}  // namespace
