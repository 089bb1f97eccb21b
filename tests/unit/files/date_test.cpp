// Date values in several time zones, the local date now, and the pause's timer resolution.
#include "runtime/files/date.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>

#include "platform/test_hooks.h"
#include "tests/unit/files/files_fixture.h"

namespace ralto {
namespace {

struct DateCase {
  std::int32_t year, month, day, hour, minute, second;
  DateValue expected;
};

const DateCase dateCases[] = {
    {1970, 1, 1, 0, 0, 0, 0},
    {1970, 1, 1, 23, 59, 59, 86399},
    {1970, 1, 2, 0, 0, 0, 86400},
    {2038, 1, 19, 3, 14, 7, 2147483647},
    {2038, 1, 19, 3, 14, 8, -1},
    {2038, 1, 19, 3, 15, 0, -1},
    {2038, 1, 19, 4, 0, 0, -1},
    {2038, 1, 20, 0, 0, 0, -1},
    {2038, 2, 1, 0, 0, 0, -1},
    {2039, 1, 1, 0, 0, 0, -1},
    {1969, 12, 31, 23, 59, 59, -1},
    {2000, 2, 29, 0, 0, 0, 951782400},
    {1999, 2, 29, 0, 0, 0, -1},
    {2024, 2, 29, 0, 0, 0, 1709164800},
    {2024, 2, 30, 0, 0, 0, -1},
    {2024, 4, 31, 0, 0, 0, -1},
    {2024, 6, 31, 0, 0, 0, -1},
    {2024, 9, 31, 0, 0, 0, -1},
    {2024, 11, 31, 0, 0, 0, -1},
    {2024, 5, 31, 0, 0, 0, 1717113600},
    {2024, 7, 1, 12, 0, 0, 1719835200},
    {2024, 3, 10, 2, 30, 0, 1710037800},  // a wall-clock time that New York skips
    {2024, 11, 3, 1, 30, 0, 1730597400},  // one that New York has twice
    {2024, 10, 6, 2, 15, 0, 1728180900},  // skipped on Lord Howe Island (half an hour)
    {2024, 0, 1, 0, 0, 0, -1},
    {2024, 13, 1, 0, 0, 0, -1},
    {2024, 1, 0, 0, 0, 0, -1},
    {2024, 1, 32, 0, 0, 0, -1},
    {2024, 1, 1, 24, 0, 0, -1},
    {2024, 1, 1, 0, 60, 0, -1},
    {2024, 1, 1, 0, 0, 60, -1},
    {2024, -1, 1, 0, 0, 0, -1},
    {2024, 1, -1, 0, 0, 0, -1},
    {2024, 1, 1, -1, 0, 0, -1},
    {2024, 1, 1, 0, -1, 0, -1},
    {2024, 1, 1, 0, 0, -1, -1},
    {2038, 1, 19, 3, 14, -1, -1},  // negative fields pass the 2038 tests and fail later
    {2038, -5, 19, 0, 0, 0, -1},
    {-2024, 1, 1, 0, 0, 0, -1},
};

TEST(DateTest, ComposeDateIsTheSameInEveryZone) {
  for (const char* zone : testZones) {
    if (zone && std::string(zone) != "UTC") {
      ASSERT_TRUE(std::filesystem::exists(std::string("/usr/share/zoneinfo/") + zone))
          << zone << ": install tzdata";
    }
    ScopedZone scoped(zone);
    for (const DateCase& c : dateCases) {
      EXPECT_EQ(ComposeDate(c.year, c.month, c.day, c.hour, c.minute, c.second), c.expected)
          << ZoneName(zone) << " " << c.year << "-" << c.month << "-" << c.day << " " << c.hour
          << ":" << c.minute << ":" << c.second;
    }
  }
}

TEST(DateTest, EveryDayOfTheRangeFollowsTheLastOne) {
  // Walks day by day from 1970 to 2038: each valid day is exactly 86400 after the one before.
  DateValue previous = ComposeDate(1970, 1, 1, 0, 0, 0);
  int days = 0;
  for (std::int32_t year = 1970; year <= 2038; ++year) {
    for (std::int32_t month = 1; month <= 12; ++month) {
      for (std::int32_t day = 1; day <= 31; ++day) {
        DateValue value = ComposeDate(year, month, day, 0, 0, 0);
        if (value == -1 || (year == 1970 && month == 1 && day == 1)) continue;
        ASSERT_EQ(value, previous + 86400) << year << "-" << month << "-" << day;
        previous = value;
        ++days;
      }
    }
  }
  EXPECT_EQ(days, 24855);  // 1970-01-02 .. 2038-01-19
}

TEST(DateTest, CurrentDateIsTheLocalWallClock) {
  for (const char* zone : testZones) {
    ScopedZone scoped(zone);
    std::time_t now = std::time(nullptr);
    std::tm local = *std::localtime(&now);
    DateValue expected = ComposeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                     local.tm_hour, local.tm_min, local.tm_sec);
    DateValue current = CurrentDate();
    EXPECT_GE(current, expected) << ZoneName(zone);
    EXPECT_LE(current, expected + 2) << ZoneName(zone);
  }
}

TEST(DateTest, PauseRaisesTheTimerResolutionOnce) {
  PauseMs(1);
  PauseMs(0);
  PauseMs(2);
  EXPECT_EQ(sys::TimerPeriodRequests(), 1u);
}

}  // namespace
}  // namespace ralto
