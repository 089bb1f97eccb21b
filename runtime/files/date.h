// Date values (wall-clock seconds since 1970-01-01 00:00 local) and the millisecond pause.
#pragma once
#include <cstdint>

namespace ralto {

using DateValue = std::int32_t;

// The date's value, or -1 when a field is invalid or the date lies outside
// 1970-01-01 00:00:00 .. 2038-01-19 03:14:07.
DateValue ComposeDate(std::int32_t year, std::int32_t month, std::int32_t day, std::int32_t hour,
                      std::int32_t minute, std::int32_t second);
// Local date and time now; -1 past 2038-01-19 03:14:07.
DateValue CurrentDate();
// Sleeps; the first call raises the timer resolution once.
void PauseMs(std::uint32_t milliseconds);

}  // namespace ralto
