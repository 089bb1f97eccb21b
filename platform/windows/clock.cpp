// Wall-clock time, file-time conversions, sleeping and the timer resolution on Windows.
#include "platform/clock.h"
#include "platform/test_hooks.h"

#include <windows.h>

#include <timeapi.h>

#include <atomic>

namespace sys {
namespace {

#ifdef RALTO_TEST_HOOKS
std::atomic<UINT> timerPeriodRequests{0};
std::atomic<UINT> sleepCalls{0};
std::atomic<const SYSTEMTIME*> stoppedAt{nullptr};
#endif

}  // namespace

static_assert(sizeof(SYSTEMTIME) == sizeof(::SYSTEMTIME));
static_assert(sizeof(FILETIME) == sizeof(::FILETIME));

void GetLocalTime(SYSTEMTIME* now) {
#ifdef RALTO_TEST_HOOKS
  if (const SYSTEMTIME* at = stoppedAt.load()) {
    *now = *at;
    return;
  }
#endif
  ::GetLocalTime(reinterpret_cast<::SYSTEMTIME*>(now));
}

void GetSystemTimeAsFileTime(FILETIME* now) {
  ::GetSystemTimeAsFileTime(reinterpret_cast<::FILETIME*>(now));
}

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
  return ::FileTimeToLocalFileTime(reinterpret_cast<const ::FILETIME*>(utc),
                                   reinterpret_cast<::FILETIME*>(local));
}

BOOL FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* fields) {
  return ::FileTimeToSystemTime(reinterpret_cast<const ::FILETIME*>(time),
                                reinterpret_cast<::SYSTEMTIME*>(fields));
}

void Sleep(DWORD milliseconds) {
#ifdef RALTO_TEST_HOOKS
  sleepCalls.fetch_add(1, std::memory_order_relaxed);
#endif
  ::Sleep(milliseconds);
}

UINT timeBeginPeriod(UINT milliseconds) {
  UINT result = ::timeBeginPeriod(milliseconds);
#ifdef RALTO_TEST_HOOKS
  if (result == TIMERR_NOERROR) timerPeriodRequests.fetch_add(1, std::memory_order_relaxed);
#endif
  return result;
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
