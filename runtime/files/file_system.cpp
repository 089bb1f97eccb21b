// Whole-file operations by name: the local date of a file, a copy over another, deletion.
#include "runtime/files/file_system.h"

#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/heap.h"
#include "runtime/files/date.h"
#include "runtime/files/held_file.h"
#include "runtime/strings/heaps.h"

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
    // Reading too: a record the next run could not read back would be no record.
    name = OpenFileWaiting(destination, sys::GENERIC_READ | sys::GENERIC_WRITE, ShareAll, nullptr,
                           sys::OPEN_EXISTING, &held, sys::FILE_FLAG_OPEN_REPARSE_POINT);
    *inPlace = name != sys::INVALID_HANDLE_VALUE;
  }
  if (name == sys::INVALID_HANDLE_VALUE) return held ? CopyHeld : CopyUnwritable;
  sys::CloseHandle(name);
  return CopyPrepared;
}

// Writes the closed copy's content into destination itself, never through a link: the content
// and a line end in one write, then the cut at the content's length, then the flush. Until the
// cut, the line end ends a first line that the content leaves open, so that the first line is
// the old one or the new one at every moment a crash could choose; a reader may see the line
// end or the old tail for a moment.
bool WriteInPlace(const char16_t* copy, const char16_t* destination) {
  sys::HANDLE input = OpenFileWaiting(copy, sys::GENERIC_READ, sys::FILE_SHARE_READ, nullptr,
                                      sys::OPEN_EXISTING);
  if (input == sys::INVALID_HANDLE_VALUE) return false;
  sys::LONG high = 0;
  const sys::DWORD size = sys::SetFilePointer(input, 0, &high, sys::FILE_END);
  const bool sized = size != sys::INVALID_SET_FILE_POINTER && high == 0 && size < 0x7FFFFFFF &&
                     sys::SetFilePointer(input, 0, nullptr, sys::FILE_BEGIN) == 0;
  auto* content = sized ? static_cast<char*>(sys::HeapAlloc(generalHeap, 0, size + 1)) : nullptr;
  sys::DWORD got = 0;
  const bool read = content && sys::ReadFile(input, content, size, &got, nullptr) && got == size;
  sys::CloseHandle(input);
  bool written = false;
  // Sharing writing too: a holder that writes and shares writing does not refuse it.
  sys::HANDLE output = read ? OpenFileWaiting(destination, sys::GENERIC_WRITE,
                                              sys::FILE_SHARE_READ | sys::FILE_SHARE_WRITE,
                                              nullptr, sys::OPEN_EXISTING, nullptr,
                                              sys::FILE_FLAG_OPEN_REPARSE_POINT)
                            : sys::INVALID_HANDLE_VALUE;
  if (output != sys::INVALID_HANDLE_VALUE) {
    content[size] = '\n';
    sys::DWORD put = 0;
    written = sys::WriteFile(output, content, size + 1, &put, nullptr) && put == size + 1 &&
              sys::SetFilePointer(output, static_cast<sys::LONG>(size), nullptr,
                                  sys::FILE_BEGIN) == size &&
              sys::SetEndOfFile(output) && sys::FlushFileBuffers(output);
    sys::CloseHandle(output);
  }
  if (content) sys::HeapFree(generalHeap, 0, content);
  return written;
}

}  // namespace

std::int32_t CopyFileTo(const char16_t* source, const char16_t* destination) {
  PreparedCopy copy;
  if (PrepareCopy(source, destination, &copy) != CopyPrepared) return 0;
  if (LandCopy(copy.temporary, copy.inPlace, destination)) return 1;
  RemoveTemporary(copy.temporary);
  return 0;
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

std::int32_t LandCopy(const char16_t* copy, bool inPlace, const char16_t* destination) {
  sys::WIN32_FIND_DATAW own;
  sys::HANDLE search = copy ? sys::FindFirstFileW(copy, &own) : sys::INVALID_HANDLE_VALUE;
  if (search == sys::INVALID_HANDLE_VALUE) return 0;
  sys::FindClose(search);
  // A rename that turns out refused after all (a mount that Wine cannot see, a holder that
  // shares deleting but keeps a replacement off) is written in place where it can be.
  const bool renamed =
      !inPlace && MoveFileWaiting(copy, destination,
                                  sys::MOVEFILE_REPLACE_EXISTING | sys::MOVEFILE_WRITE_THROUGH);
  if (!renamed && !WriteInPlace(copy, destination)) return 0;
  if (!renamed) RemoveTemporary(copy);
  // The copy's own times go with it, when it was made and written, not when it landed, so
  // that a record kept for a while keeps its age. Without the stamp, NTFS would give a file
  // that takes over a name within seconds of the old file leaving it the old file's creation
  // time (a rename onto the name is just that), and a file written in place would keep its own
  // creation time and take the write's moment as its last. A stamp that cannot be set leaves
  // those; the copy is in place all the same. Sharing everything and asking only to write
  // attributes, this open never meets a holder's refusal.
  sys::HANDLE landed = OpenFileWaiting(destination, sys::FILE_WRITE_ATTRIBUTES, ShareAll, nullptr,
                                       sys::OPEN_EXISTING);
  if (landed != sys::INVALID_HANDLE_VALUE) {
    sys::SetFileTime(landed, &own.ftCreationTime, nullptr,
                     renamed ? nullptr : &own.ftLastWriteTime);
    sys::CloseHandle(landed);
  }
  return 1;
}

bool FileExists(const char16_t* name) {
  sys::HANDLE file = name ? OpenFileWaiting(name, 0, ShareAll, nullptr, sys::OPEN_EXISTING)
                          : sys::INVALID_HANDLE_VALUE;
  if (file == sys::INVALID_HANDLE_VALUE) return false;
  sys::CloseHandle(file);
  return true;
}

std::int32_t RemoveFile(const char16_t* name, std::uint32_t flags) {
  return DeleteFileWaiting(name, flags & RemoveClearReadOnly) ? 1 : 0;
}

}  // namespace ralto
