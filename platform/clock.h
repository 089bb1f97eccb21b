// Wall-clock time, file-time conversions and sleeping.
#pragma once
#include "platform/types.h"

namespace sys {

// GetLocalTime, GetSystemTimeAsFileTime and Sleep cannot fail.
void GetLocalTime(SYSTEMTIME* now);
// Now as a UTC file time.
void GetSystemTimeAsFileTime(FILETIME* now);
// Applies the local zone's offset in force now, as Windows does. FALSE when the result would
// fall outside the range of file times (on POSIX also for a null pointer).
BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
// FALSE for a time with its top bit set (on POSIX also for a null pointer).
BOOL FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* fields);
void Sleep(DWORD milliseconds);
// Raises the timer resolution; 0 (TIMERR_NOERROR) on success.
UINT timeBeginPeriod(UINT milliseconds);

}  // namespace sys
