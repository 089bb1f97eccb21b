// Wall-clock time, file-time conversions and sleeping.
#pragma once
#include "platform/types.h"

namespace sys {

void GetLocalTime(SYSTEMTIME* now);
// Now as a UTC file time.
void GetSystemTimeAsFileTime(FILETIME* now);
// Applies the local zone's offset in force now, as Windows does.
BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
BOOL FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* fields);
void Sleep(DWORD milliseconds);
// Raises the timer resolution; 0 (TIMERR_NOERROR) on success.
UINT timeBeginPeriod(UINT milliseconds);

}  // namespace sys
