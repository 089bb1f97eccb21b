// Whole-file operations by name: the local date of a file, a copy over another, deletion.
#include "runtime/files/file_system.h"

#include "platform/clock.h"
#include "platform/file_io.h"
#include "runtime/files/date.h"

namespace ralto {

std::int32_t FileTimestamp(const char16_t* name, std::int32_t kind) {
  if (!name) return 0;
  sys::WIN32_FIND_DATAW found;
  sys::HANDLE search = sys::FindFirstFileW(name, &found);
  if (search == sys::INVALID_HANDLE_VALUE) return 0;
  const sys::FILETIME& stamp = kind == 1   ? found.ftLastAccessTime
                               : kind == 2 ? found.ftLastWriteTime
                                           : found.ftCreationTime;
  // The zone offset in force now, as CurrentDate uses, so that the difference of the two is
  // the file's true age across a change of daylight-saving time.
  sys::FILETIME local;
  sys::SYSTEMTIME fields;
  std::int32_t date = 0;
  if (sys::FileTimeToLocalFileTime(&stamp, &local) && sys::FileTimeToSystemTime(&local, &fields)) {
    date = ComposeDate(fields.wYear, fields.wMonth, fields.wDay, fields.wHour, fields.wMinute,
                       fields.wSecond);
  }
  sys::FindClose(search);
  return date;
}

std::int32_t CopyFileTo(const char16_t* source, const char16_t* destination) {
  if (!source || !destination) return 0;
  return sys::CopyFileW(source, destination, sys::FALSE) ? 1 : 0;
}

std::int32_t RemoveFile(const char16_t* name, std::uint32_t flags) {
  if (!name) return 0;
  constexpr std::uint32_t FlagClearReadOnly = 2;
  if (flags & FlagClearReadOnly) sys::SetFileAttributesW(name, sys::FILE_ATTRIBUTE_NORMAL);
  return sys::DeleteFileW(name) ? 1 : 0;
}

}  // namespace ralto
