// Wall-clock time, file-time conversions and sleeping on the POSIX clock and time zone.
#include "platform/clock.h"
#include "platform/posix/handles_and_paths.h"
#include "platform/test_hooks.h"

#include <time.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>

namespace sys {
namespace {

constexpr std::uint64_t TicksPerSecond = 10000000;
constexpr std::uint64_t TicksPerDay = TicksPerSecond * 86400;

#ifdef RALTO_TEST_HOOKS
std::atomic<UINT> timerPeriodRequests{0};
std::atomic<UINT> sleepCalls{0};
std::atomic<const SYSTEMTIME*> stoppedAt{nullptr};
#endif

// The local zone's offset from UTC in force now, in seconds east. TZ is read again on
// every call, so a changed zone takes effect as it does on Windows.
bool CurrentZoneOffset(long* seconds) {
  tzset();
  time_t now = time(nullptr);
  struct tm local;
  if (!localtime_r(&now, &local)) return false;
  *seconds = local.tm_gmtoff;
  return true;
}

}  // namespace

void GetLocalTime(SYSTEMTIME* now) {
  if (!now) return;
#ifdef RALTO_TEST_HOOKS
  if (const SYSTEMTIME* at = stoppedAt.load()) {
    *now = *at;
    return;
  }
#endif
  tzset();
  struct timespec clock;
  clock_gettime(CLOCK_REALTIME, &clock);
  struct tm local {};
  localtime_r(&clock.tv_sec, &local);
  now->wYear = static_cast<WORD>(local.tm_year + 1900);
  now->wMonth = static_cast<WORD>(local.tm_mon + 1);
  now->wDayOfWeek = static_cast<WORD>(local.tm_wday);
  now->wDay = static_cast<WORD>(local.tm_mday);
  now->wHour = static_cast<WORD>(local.tm_hour);
  now->wMinute = static_cast<WORD>(local.tm_min);
  now->wSecond = static_cast<WORD>(local.tm_sec > 59 ? 59 : local.tm_sec);
  now->wMilliseconds = static_cast<WORD>(clock.tv_nsec / 1000000);
}

void GetSystemTimeAsFileTime(FILETIME* now) {
  if (!now) return;
  struct timespec clock;
  clock_gettime(CLOCK_REALTIME, &clock);
  *now = posix::ToFileTime(clock.tv_sec, static_cast<std::uint32_t>(clock.tv_nsec));
}

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
  long offset = 0;
  if (!utc || !local || !CurrentZoneOffset(&offset)) return FALSE;
  std::uint64_t ticks =
      (static_cast<std::uint64_t>(utc->dwHighDateTime) << 32) | utc->dwLowDateTime;
  std::int64_t shift =
      static_cast<std::int64_t>(offset) * static_cast<std::int64_t>(TicksPerSecond);
  if (shift < 0 && ticks < static_cast<std::uint64_t>(-shift)) return FALSE;
  if (shift > 0 && ticks > UINT64_MAX - static_cast<std::uint64_t>(shift)) return FALSE;
  ticks += static_cast<std::uint64_t>(shift);
  local->dwLowDateTime = static_cast<DWORD>(ticks);
  local->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* fields) {
  if (!time || !fields) return FALSE;
  std::uint64_t ticks =
      (static_cast<std::uint64_t>(time->dwHighDateTime) << 32) | time->dwLowDateTime;
  if (ticks >> 63) return FALSE;  // Windows refuses times with the top bit set
  using namespace std::chrono;
  sys_days day = sys_days(year{1601} / January / 1) + days{static_cast<int>(ticks / TicksPerDay)};
  year_month_day date{day};
  std::uint64_t inDay = ticks % TicksPerDay;
  fields->wYear = static_cast<WORD>(static_cast<int>(date.year()));
  fields->wMonth = static_cast<WORD>(static_cast<unsigned>(date.month()));
  fields->wDayOfWeek = static_cast<WORD>(weekday{day}.c_encoding());
  fields->wDay = static_cast<WORD>(static_cast<unsigned>(date.day()));
  fields->wHour = static_cast<WORD>(inDay / (TicksPerSecond * 3600));
  fields->wMinute = static_cast<WORD>(inDay / (TicksPerSecond * 60) % 60);
  fields->wSecond = static_cast<WORD>(inDay / TicksPerSecond % 60);
  fields->wMilliseconds = static_cast<WORD>(inDay / 10000 % 1000);
  return TRUE;
}

void Sleep(DWORD milliseconds) {
#ifdef RALTO_TEST_HOOKS
  sleepCalls.fetch_add(1, std::memory_order_relaxed);
#endif
  struct timespec remaining;
  remaining.tv_sec = milliseconds / 1000;
  remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000;
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

UINT timeBeginPeriod(UINT milliseconds) {
  constexpr UINT TIMERR_NOCANDO = 97;
  if (milliseconds == 0) return TIMERR_NOCANDO;
    // The system timer is already fine-grained: nothing to raise.
#ifdef RALTO_TEST_HOOKS
  timerPeriodRequests.fetch_add(1, std::memory_order_relaxed);
#endif
  return 0;
}

#ifdef RALTO_TEST_HOOKS
UINT TimerPeriodRequests() {
  return timerPeriodRequests.load(std::memory_order_relaxed);
}

UINT SleepCalls() {
  return sleepCalls.load(std::memory_order_relaxed);
}

void StopLocalTime(const SYSTEMTIME* at) {
  stoppedAt.store(at);
}
#endif

}  // namespace sys
