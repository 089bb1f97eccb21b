// What the platform lets a test watch. Compiled only into the tests' platform library
// (RALTO_TEST_HOOKS); the program has none of it, so a program that calls one does not link.
#pragma once
#include "platform/types.h"

namespace sys {

// How often timeBeginPeriod has raised the timer resolution in this process.
UINT TimerPeriodRequests();
// How often Sleep has been called in this process.
UINT SleepCalls();
// While at is not null, GetLocalTime gives *at: the clock stands still, and with it the names
// of temporaries.
void StopLocalTime(const SYSTEMTIME* at);
// While refuse holds, OwnerOnlySecurity gives null, as when Windows cannot build it.
void RefuseOwnerOnlySecurity(bool refuse);
// Windows: while owner (a SID in text form) is not null, LockFolder reads it as the owner of a
// folder mutex that exists already, as when another user made it first.
void NameFolderMutexOwner(const char16_t* owner);
// Windows: while routes is 1, LockFolder's 128-bit file ID query answers a zero ID, as before
// Windows 8, and the file index names the folder; while 2, both answer zero IDs, as on a file
// system that tells none.
void TellNoFileIds(int routes);

}  // namespace sys
