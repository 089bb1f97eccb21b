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

namespace {

constexpr sys::DWORD ShareAll =
    sys::FILE_SHARE_READ | sys::FILE_SHARE_WRITE | sys::FILE_SHARE_DELETE;

// Copies what is left of input into output: CopyPrepared, CopyFailed when input could not be
// read, CopyUnwritable when output could not be written.
CopyResult CopyContent(sys::HANDLE input, sys::HANDLE output) {
  constexpr sys::DWORD ChunkBytes = 16384;
  char chunk[ChunkBytes];
  for (;;) {
    sys::DWORD got = 0;
    sys::DWORD written = 0;
    if (!sys::ReadFile(input, chunk, ChunkBytes, &got, nullptr)) return CopyFailed;
    if (got == 0) return CopyPrepared;
    if (!sys::WriteFile(output, chunk, got, &written, nullptr) || written != got) {
      return CopyUnwritable;
    }
  }
}

// How a copy could take destination's place, asked of the name before anything depends on it:
// absent or renamed over (CopyPrepared), written into (CopyPrepared with *inPlace), neither
// (CopyUnwritable), or unknown while another process holds it (CopyHeld). Nothing is created.
CopyResult LandingOf(const char16_t* destination, bool* inPlace) {
  *inPlace = false;
  const sys::DWORD attributes = sys::GetFileAttributesW(destination);
  if (attributes == sys::INVALID_FILE_ATTRIBUTES) return CopyPrepared;
  if (sys::KeepsItsName(attributes)) return CopyUnwritable;
  bool held = false;
  sys::HANDLE name =
      OpenFileWaiting(destination, sys::DELETE, ShareAll, nullptr, sys::OPEN_EXISTING, &held);
  if (name == sys::INVALID_HANDLE_VALUE && !held) {
    name = OpenFileWaiting(destination, sys::GENERIC_WRITE, ShareAll, nullptr, sys::OPEN_EXISTING,
                           &held, sys::FILE_FLAG_OPEN_REPARSE_POINT);
    *inPlace = name != sys::INVALID_HANDLE_VALUE;
  }
  if (name == sys::INVALID_HANDLE_VALUE) return held ? CopyHeld : CopyUnwritable;
  sys::CloseHandle(name);
  return CopyPrepared;
}

// Writes the closed temporary's content into destination itself, never through a link.
bool WriteInPlace(const char16_t* temporary, const char16_t* destination) {
  sys::HANDLE input = OpenFileWaiting(temporary, sys::GENERIC_READ, sys::FILE_SHARE_READ, nullptr,
                                      sys::OPEN_EXISTING);
  if (input == sys::INVALID_HANDLE_VALUE) return false;
  sys::HANDLE output =
      OpenFileWaiting(destination, sys::GENERIC_WRITE, sys::FILE_SHARE_READ, nullptr,
                      sys::OPEN_EXISTING, nullptr, sys::FILE_FLAG_OPEN_REPARSE_POINT);
  bool written = false;
  if (output != sys::INVALID_HANDLE_VALUE) {
    // The whole new content first, then the old end cut off: the first line is the old one or
    // the new one at every moment a crash could choose.
    written = CopyContent(input, output) == CopyPrepared && sys::SetEndOfFile(output) &&
              sys::FlushFileBuffers(output);
    sys::CloseHandle(output);
  }
  sys::CloseHandle(input);
  return written;
}

}  // namespace

std::int32_t CopyFileTo(const char16_t* source, const char16_t* destination) {
  PreparedCopy copy;
  return PrepareCopy(source, destination, &copy) == CopyPrepared ? LandCopy(copy, destination) : 0;
}

CopyResult PrepareCopy(const char16_t* source, const char16_t* destination, PreparedCopy* copy) {
  if (!source || !destination || !copy) return CopyFailed;
  sys::HANDLE input =
      OpenFileWaiting(source, sys::GENERIC_READ, sys::FILE_SHARE_READ, nullptr, sys::OPEN_EXISTING);
  if (input == sys::INVALID_HANDLE_VALUE) return CopyFailed;
  // A copy that could not land would only be found out once it mattered: after the update.
  CopyResult result = LandingOf(destination, &copy->inPlace);
  sys::HANDLE output = result == CopyPrepared
                           ? CreateTemporaryBeside(destination, nullptr, copy->temporary)
                           : sys::INVALID_HANDLE_VALUE;
  if (output == sys::INVALID_HANDLE_VALUE) {
    sys::CloseHandle(input);
    return result == CopyPrepared ? CopyUnwritable : result;
  }
  result = CopyContent(input, output);
  sys::CloseHandle(input);
  // The copy is the record of the last address sent: it must survive a crash whole.
  if (!sys::FlushFileBuffers(output) && result == CopyPrepared) result = CopyUnwritable;
  sys::CloseHandle(output);
  if (result != CopyPrepared) RemoveTemporary(copy->temporary);
  return result;
}

std::int32_t LandCopy(const PreparedCopy& copy, const char16_t* destination) {
  // A rename that turns out refused after all (a mount that Wine cannot see, a holder that
  // shares deleting but keeps a replacement off) is written in place where it can be.
  const bool renamed = !copy.inPlace && MoveFileWaiting(copy.temporary, destination,
                                                        sys::MOVEFILE_REPLACE_EXISTING |
                                                            sys::MOVEFILE_WRITE_THROUGH);
  const bool written = renamed || WriteInPlace(copy.temporary, destination);
  if (!renamed) RemoveTemporary(copy.temporary);
  if (!written) return 0;
  // NTFS gives a file that takes over a name within seconds of the old file leaving it the
  // old file's creation time, and a rename onto the name is just that: without a fresh stamp
  // the copy would be as old as the first file ever under the name; a file written in place
  // would be too. A stamp that cannot be set leaves that creation time; the copy is in place
  // all the same. Sharing everything and asking only to write attributes, this open never
  // meets a holder's refusal.
  sys::HANDLE landed = OpenFileWaiting(destination, sys::FILE_WRITE_ATTRIBUTES, ShareAll, nullptr,
                                       sys::OPEN_EXISTING);
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
