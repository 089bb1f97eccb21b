// The user the process runs as, for the objects that user alone may use.
#pragma once
#include <windows.h>

namespace sys {

// Units of a SID's text form (S-1-5-21-...), its terminator included.
inline constexpr int SidTextUnits = 192;

// The SID of the process's user in text form into sid; false when it cannot be told.
bool ProcessUserSid(wchar_t (&sid)[SidTextUnits]);
// The SID in text form into sid; false when it cannot be converted or does not fit.
bool SidText(PSID binary, wchar_t (&sid)[SidTextUnits]);

}  // namespace sys
