// Files that another process holds open for a moment (a virus scanner, the search indexer, a
// backup agent, an editor): on Windows, while it holds one without sharing, the file cannot be
// opened, renamed over or deleted. Such an operation is tried again for about two seconds.
#pragma once
#include <cstdint>

namespace ralto {

// Which failures mean that the file is held.
enum HeldRule : std::int32_t {
  // A sharing or lock violation: for opening a file.
  HeldBySharing = 0,
  // Also a refused access while the name is neither read-only nor a folder, or has no
  // attributes to read (a delete still pending): for renaming onto it and deleting it.
  HeldBySharingOrDenied = 1,
};
enum HeldResult : std::int32_t {
  HeldDone = 0,       // the operation succeeded
  HeldFailed = 1,     // it failed for another reason than the file being held
  HeldStillHeld = 2,  // the file was still held when the tries ran out
};

// Whether the failure that an operation on name has just reported (sys::GetLastError) means
// that another process holds name, under rule. On POSIX never.
bool FailedAsHeld(const char16_t* name, HeldRule rule);
// Pauses before try number tries + 1, longer after each try; false, without a pause, once the
// pauses have come to about 2 s in all.
bool PauseBeforeTry(std::int32_t tries);

// Runs attempt, which returns whether it succeeded, until it succeeds, fails other than as
// held, or the pauses run out.
template <typename Attempt>
HeldResult RetryWhileHeld(const char16_t* name, HeldRule rule, Attempt attempt) {
  for (std::int32_t tries = 1; !attempt(); ++tries) {
    if (!FailedAsHeld(name, rule)) return HeldFailed;
    if (!PauseBeforeTry(tries)) return HeldStillHeld;
  }
  return HeldDone;
}

}  // namespace ralto
