// The hold file: what keeps the next update back apart from the record. Either the hold-off
// after a "try again later", timed by the file's own last write, or a refusal that needs the
// user, with the answer's first line and a digest of the account it was given for.
#pragma once
#include <cstdint>

#include "runtime/strings/string_area.h"

namespace ralto {

enum HoldKind : std::int32_t {
  HoldNone = 0,     // no hold file, one that cannot be read, or one this program never wrote
  HoldOff = 1,      // a try-again answer: the next update waits for the half-hour
  HoldRefused = 2,  // a refusal given for this run's host, user name and password
};

// What the hold file says for this run's account (updater's host, user and pw): a refusal of
// another account is HoldNone. For HoldRefused, line receives the refusal's first line.
// Uses file 0 and leaves it closed.
HoldKind ReadHold(StringValue* line);
// Each writes the hold file whole (a fresh file, renamed onto the name), its owner's alone,
// with file 0 and closes it; false when it could not be put in place, the old one staying.
[[nodiscard]] bool HoldOffUpdates();
[[nodiscard]] bool KeepRefusal(const char16_t* line);
// Removes the hold file, if there is one: an answer recorded as any other ends both holds.
void ReleaseHold();

}  // namespace ralto
