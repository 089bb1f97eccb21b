// Whole-file operations by name: the local date of a file, a copy over another, deletion.
#include "runtime/files/file_system.h"

#include "platform/clock.h"
#include "platform/file_io.h"
#include "runtime/files/date.h"
#include "runtime/files/held_file.h"

namespace ralto {

std::int32_t FileTimestamp(const char16_t* name, TimestampKind kind) {
  if (!name) return 0;
  sys::WIN32_FIND_DATAW found;
  sys::HANDLE search = sys::FindFirstFileW(name, &found);
  if (search == sys::INVALID_HANDLE_VALUE) return 0;
  const sys::FILETIME& stamp = kind == TimestampLastAccess  ? found.ftLastAccessTime
                               : kind == TimestampLastWrite ? found.ftLastWriteTime
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
  char16_t temporary[TemporaryNameUnits];
  return PrepareCopy(source, destination, temporary) == CopyPrepared
             ? LandCopy(temporary, destination)
             : 0;
}

CopyResult PrepareCopy(const char16_t* source, const char16_t* destination,
                       char16_t (&temporary)[TemporaryNameUnits]) {
  if (!source || !destination) return CopyFailed;
  sys::HANDLE input =
      OpenFileWaiting(source, sys::GENERIC_READ, sys::FILE_SHARE_READ, nullptr, sys::OPEN_EXISTING);
  if (input == sys::INVALID_HANDLE_VALUE) return CopyFailed;
  sys::HANDLE output = CreateTemporaryBeside(destination, nullptr, temporary);
  if (output == sys::INVALID_HANDLE_VALUE) {
    sys::CloseHandle(input);
    return CopyUnwritable;
  }
  CopyResult result = CopyPrepared;
  constexpr sys::DWORD ChunkBytes = 16384;
  char chunk[ChunkBytes];
  for (;;) {
    sys::DWORD got = 0;
    sys::DWORD written = 0;
    if (!sys::ReadFile(input, chunk, ChunkBytes, &got, nullptr)) {
      result = CopyFailed;
      break;
    }
    if (got == 0) break;
    if (!sys::WriteFile(output, chunk, got, &written, nullptr) || written != got) {
      result = CopyUnwritable;
      break;
    }
  }
  sys::CloseHandle(input);
  // The copy records the address of the last answered update: it must survive a crash whole.
  if (!sys::FlushFileBuffers(output) && result == CopyPrepared) result = CopyUnwritable;
  sys::CloseHandle(output);
  if (result != CopyPrepared) RemoveTemporary(temporary);
  return result;
}

std::int32_t LandCopy(const char16_t* temporary, const char16_t* destination) {
  if (!ReplaceWithTemporary(temporary, destination, true)) return 0;
  // NTFS gives a file that takes over a name within seconds of the old file leaving it the
  // old file's creation time, and a rename onto the name is just that: without a fresh stamp
  // the copy would be as old as the first file ever under the name. A stamp that cannot be
  // set leaves that creation time; the copy is in place all the same. Sharing everything and
  // asking only to write attributes, this open never meets a holder's refusal.
  sys::HANDLE landed =
      OpenFileWaiting(destination, sys::FILE_WRITE_ATTRIBUTES,
                      sys::FILE_SHARE_READ | sys::FILE_SHARE_WRITE | sys::FILE_SHARE_DELETE,
                      nullptr, sys::OPEN_EXISTING);
  if (landed != sys::INVALID_HANDLE_VALUE) {
    sys::FILETIME now;
    sys::GetSystemTimeAsFileTime(&now);
    sys::SetFileTime(landed, &now, nullptr, nullptr);
    sys::CloseHandle(landed);
  }
  return 1;
}

std::int32_t RemoveFile(const char16_t* name, std::uint32_t flags) {
  return DeleteFileWaiting(name, flags & RemoveClearReadOnly) ? 1 : 0;
}

}  // namespace ralto
