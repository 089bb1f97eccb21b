// Date values by plain calendar arithmetic, the local date now, and the millisecond pause.
#include "runtime/files/date.h"

#include <chrono>

#include "platform/clock.h"

namespace ralto {
namespace {

bool timerResolutionRaised = false;

bool IsLeapYear(std::int32_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

}  // namespace

DateValue ComposeDate(std::int32_t year, std::int32_t month, std::int32_t day, std::int32_t hour,
                      std::int32_t minute, std::int32_t second) {
  if (year < 1970 || year > 2038) return -1;
  // The last representable instant is 2038-01-19 03:14:07.
  if (year == 2038) {
    if (month > 1 || day > 19) return -1;
    if (day == 19 && (hour > 3 || (hour == 3 && (minute > 14 || (minute == 14 && second > 7))))) {
      return -1;
    }
  }
  if (day == 31 && (month == 4 || month == 6 || month == 9 || month == 11)) return -1;
  if (month == 2 && (day > 29 || (day == 29 && !IsLeapYear(year)))) return -1;
  if (second < 0 || second > 59 || minute < 0 || minute > 59 || hour < 0 || hour > 23 || day < 1 ||
      day > 31 || month < 1 || month > 12) {
    return -1;
  }
  // Every day has 86400 seconds and no zone enters: the count is the same everywhere.
  using namespace std::chrono;
  const sys_days date =
      year_month_day{std::chrono::year{year}, std::chrono::month(month), std::chrono::day(day)};
  const std::int64_t days = (date - sys_days{1970y / January / 1}).count();
  return static_cast<DateValue>(days * 86400 + hour * 3600 + minute * 60 + second);
}

DateValue CurrentDate() {
  sys::SYSTEMTIME now;
  sys::GetLocalTime(&now);
  return ComposeDate(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
}

void PauseMs(std::uint32_t milliseconds) {
  if (!timerResolutionRaised) {
    sys::timeBeginPeriod(1);
    timerResolutionRaised = true;
  }
  sys::Sleep(milliseconds);
}

}  // namespace ralto
