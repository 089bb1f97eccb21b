// The system's open, rename and delete by name, each tried again while another process holds
// the file: telling a held file from one that cannot be used, and the pauses between the tries.
#include "runtime/files/held_file.h"

#include <cstdint>

#include "platform/clock.h"
#include "platform/file_io.h"

namespace ralto {
namespace {

// Doubling from 10 ms: a scanner that lets go at once costs little, one that takes its time
// gets nine tries.
constexpr std::uint32_t FirstPauseMs = 10;
constexpr std::uint32_t AllPausesMs = 2000;

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
bool FailedAsHeld(const char16_t* name, HeldRule rule) {
  const sys::DWORD error = sys::GetLastError();
  if (error == sys::ERROR_SHARING_VIOLATION || error == sys::ERROR_LOCK_VIOLATION) return true;
  if (rule != HeldBySharingOrDenied || error != sys::ERROR_ACCESS_DENIED) return false;
  // A file whose delete is pending has no attributes until its last holder lets go, while a
  // name that is not there at all refuses at once, as does a read-only file or a folder.
  const sys::DWORD attributes = sys::GetFileAttributesW(name);
  if (attributes == sys::INVALID_FILE_ATTRIBUTES) {
    const sys::DWORD why = sys::GetLastError();
    return why != sys::ERROR_FILE_NOT_FOUND && why != sys::ERROR_PATH_NOT_FOUND;
  }
  return !sys::KeepsItsName(attributes);
}

// Pauses before try number tries + 1, longer after each try; false, without a pause, once the
// pauses have come to about 2 s in all.
bool PauseBeforeTry(std::int32_t tries) {
  if (tries < 1 || tries > 16) return false;
  const std::uint32_t pause = FirstPauseMs << (tries - 1);
  const std::uint32_t paused = pause - FirstPauseMs;  // the pauses before this one
  if (paused >= AllPausesMs) return false;
  sys::Sleep(pause < AllPausesMs - paused ? pause : AllPausesMs - paused);
  return true;
}

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

}  // namespace

sys::HANDLE OpenFileWaiting(const char16_t* name, sys::DWORD access, sys::DWORD shareMode,
                            void* security, sys::DWORD creation, bool* held,
                            sys::DWORD flags) {
  sys::HANDLE handle = sys::INVALID_HANDLE_VALUE;
  const HeldResult result = RetryWhileHeld(name, HeldBySharing, [&] {
    handle = sys::CreateFileW(name, access, shareMode, security, creation,
                              sys::FILE_ATTRIBUTE_NORMAL | flags, nullptr);
    return handle != sys::INVALID_HANDLE_VALUE;
  });
  if (held) *held = result == HeldStillHeld;
  return handle;
}

bool MoveFileWaiting(const char16_t* existing, const char16_t* destination, sys::DWORD flags) {
  // Either name may be the held one (a scanner opens a file as soon as it is closed); the
  // destination's attributes tell a lasting refusal.
  return RetryWhileHeld(destination, HeldBySharingOrDenied, [&] {
           return sys::MoveFileExW(existing, destination, flags) != sys::FALSE;
         }) == HeldDone;
}

bool DeleteFileWaiting(const char16_t* name, bool clearReadOnly) {
  if (!name) return false;
  // Changing attributes needs no access that sharing can refuse: only the delete can meet a
  // holder.
  if (clearReadOnly) sys::SetFileAttributesW(name, sys::FILE_ATTRIBUTE_NORMAL);
  return RetryWhileHeld(name, HeldBySharingOrDenied, [&] {
           return sys::DeleteFileW(name) != sys::FALSE;
         }) == HeldDone;
}

}  // namespace ralto
