// Whole-file operations by name: a file's date, copy over another file, delete. A file another
// process holds for a moment is waited for, about 2 s at most (held_file.h).
#pragma once
#include <cstdint>

#include "runtime/files/temporary_file.h"

namespace ralto {

// Which of a file's times FileTimestamp gives; any other value is the creation time.
enum TimestampKind : std::int32_t {
  TimestampCreation = 0,
  TimestampLastAccess = 1,
  TimestampLastWrite = 2,
};
// The flags of RemoveFile.
enum RemoveFlags : std::uint32_t {
  RemoveClearReadOnly = 2,  // a read-only file loses the attribute and goes too
};

// A file's time as a local DateValue; 0 when the file is not found, -1 when the date is out of
// range. name may be a pattern with * and ? in its last part: the first entry the folder lists
// is taken.
std::int32_t FileTimestamp(const char16_t* name, TimestampKind kind);
// Replaces destination with a copy of source made beside it and put in its place in one
// step once it is on the disk: a reader or a crash sees the old file or the new one, and a
// link under destination is replaced, not written through. 0 on failure (destination a folder
// or read-only, source unreadable, an absent name), with destination untouched.
[[nodiscard]] std::int32_t CopyFileTo(const char16_t* source, const char16_t* destination);
// What PrepareCopy gives back.
enum CopyResult : std::int32_t {
  CopyFailed = 0,      // source unreadable, or an absent name
  CopyPrepared = 1,
  // Nothing can be written for destination: it can be neither replaced nor written into (a
  // folder, read-only, immutable, on a read-only mount), no copy can be made beside it, or the
  // copy could not be written or flushed (no room).
  CopyUnwritable = 2,
  // Another process held destination for longer than the wait: how the copy could land there
  // cannot be known now.
  CopyHeld = 3,
};
// A copy made ready to take destination's place: its temporary, and whether it is to be
// written into destination (a name no rename can replace: a file mounted on its own, on
// Windows one that may be written but not deleted) rather than renamed onto it.
struct PreparedCopy {
  char16_t temporary[TemporaryNameUnits];
  bool inPlace;
};
// The first half of CopyFileTo: the copy made beside destination and on the disk, once it is
// known that it can land there (an existing destination is asked, never created, and one to
// be written in place must be readable too), for LandCopy to put in place or
// RemoveTemporary(copy->temporary) to drop. Nothing is left after a failure; destination is
// untouched either way.
[[nodiscard]] CopyResult PrepareCopy(const char16_t* source, const char16_t* destination,
                                     PreparedCopy* copy);
// The second half: the closed file copy (a prepared copy's temporary, or any file of the same
// folder) takes destination's place with its own times, the creation time where the platform
// can set one: when it was made and written, not when it landed. Renamed onto it in one step,
// unless inPlace; where no rename can (inPlace, or a rename refused now), written into it,
// never through a link: the new content and a line end, then the cut at the content's length,
// then the flush, so that a crash leaves the old first line or the new one, and a reader may
// see it half-way. 1 when it landed, and copy is gone (one written in place stays where it
// cannot be removed); 0 when it could not land: destination is as it was, or holds the old
// first line, and copy stays for the caller to keep or drop.
[[nodiscard]] std::int32_t LandCopy(const char16_t* copy, bool inPlace,
                                    const char16_t* destination);
// Whether a file is under name, after its links, readable or not: false for a folder, a
// device, a pipe, a socket and an absent name.
bool FileExists(const char16_t* name);
// Deletes the file; flags are RemoveFlags. 0 on failure (a read-only file without
// RemoveClearReadOnly, a missing file, a directory) or an absent name.
std::int32_t RemoveFile(const char16_t* name, std::uint32_t flags = 0);

}  // namespace ralto
