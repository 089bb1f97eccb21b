// Temporary files beside a working file, named "<file>.tmp-" and six more characters: what
// a write that must land whole grows in, and what a killed run may leave behind.
#pragma once
#include <cstdint>
#include <span>

#include "platform/types.h"

namespace ralto {

// Units of a temporary's name, its terminator included.
inline constexpr int TemporaryNameUnits = 1024;

// Creates a new, empty temporary beside file, exclusively and never through a link, open for
// reading and writing; security as for sys::CreateFileW (null, or sys::OwnerOnlySecurity()
// to keep it its owner's from the start). Its name goes into name. INVALID_HANDLE_VALUE, and
// nothing created, when file could not be replaced afterwards (a folder, a read-only file;
// a link, a pipe or another user's file can be) or no temporary can be made (a folder that
// cannot be written or that would keep it for good, a name too long, an absent file).
[[nodiscard]] sys::HANDLE CreateTemporaryBeside(const char16_t* file, void* security,
                                                char16_t (&name)[TemporaryNameUnits]);
// Puts the closed temporary in file's place in one step, so that a reader sees the old file
// or the new one, never a part; whatever was under the name (a link, another user's file) is
// replaced as a name and keeps its content. durable: the rename has reached the disk when it
// returns (flush the content before closing). A name another process holds for a moment is
// waited for, about 2 s at most. 0 on failure, and the temporary is removed.
[[nodiscard]] std::int32_t ReplaceWithTemporary(const char16_t* temporary, const char16_t* file,
                                                bool durable);
// Deletes a closed temporary that is not to land, waiting for a process that holds it as
// ReplaceWithTemporary does. 0 when it stays (the next run's clearing removes it).
std::int32_t RemoveTemporary(const char16_t* temporary);
// Removes every temporary that a run left behind of the files named (bare names, in the
// current folder), clearing its read-only attribute first; one that cannot be removed is
// skipped, and nothing else is touched. Call it only while no other run can be writing one
// (under the folder lock). Absent names are skipped.
void ClearLeftoverTemporaries(std::span<const char16_t* const> files);

}  // namespace ralto
