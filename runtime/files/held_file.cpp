// Telling a held file from one that cannot be used, and the pauses between the tries.
#include "runtime/files/held_file.h"

#include "platform/clock.h"
#include "platform/file_io.h"

namespace ralto {
namespace {

// Doubling from 10 ms: a scanner that lets go at once costs little, one that takes its time
// gets nine tries.
constexpr std::uint32_t FirstPauseMs = 10;
constexpr std::uint32_t AllPausesMs = 2000;

}  // namespace

bool FailedAsHeld(const char16_t* name, HeldRule rule) {
  const sys::DWORD error = sys::GetLastError();
  if (error == sys::ERROR_SHARING_VIOLATION || error == sys::ERROR_LOCK_VIOLATION) return true;
  if (rule != HeldBySharingOrDenied || error != sys::ERROR_ACCESS_DENIED) return false;
  // A read-only file or a folder refuses for good; a file whose delete is pending has no
  // attributes until its last holder lets go.
  const sys::DWORD attributes = sys::GetFileAttributesW(name);
  return attributes == sys::INVALID_FILE_ATTRIBUTES ||
         !(attributes & (sys::FILE_ATTRIBUTE_READONLY | sys::FILE_ATTRIBUTE_DIRECTORY));
}

bool PauseBeforeTry(std::int32_t tries) {
  if (tries < 1 || tries > 16) return false;
  const std::uint32_t pause = FirstPauseMs << (tries - 1);
  const std::uint32_t paused = pause - FirstPauseMs;  // the pauses before this one
  if (paused >= AllPausesMs) return false;
  sys::Sleep(pause < AllPausesMs - paused ? pause : AllPausesMs - paused);
  return true;
}

}  // namespace ralto
