// Opening, renaming and removing a file by name, the one way the runtime does any of them.
// Another process (a virus scanner, the search indexer, a backup agent, an editor) may hold a
// file open for a moment: on Windows, while it holds one without sharing, the file cannot be
// opened, renamed over or deleted. Each operation here is tried again for about two seconds.
#pragma once
#include "platform/types.h"

namespace ralto {

// sys::CreateFileW with FILE_ATTRIBUTE_NORMAL and flags (FILE_FLAG_OPEN_REPARSE_POINT), waiting
// while another process holds name. INVALID_HANDLE_VALUE on failure; *held, when given, tells
// whether the file was still held when the tries ran out: it is there, but what it holds
// cannot be known now.
[[nodiscard]] sys::HANDLE OpenFileWaiting(const char16_t* name, sys::DWORD access,
                                          sys::DWORD shareMode, void* security,
                                          sys::DWORD creation, bool* held = nullptr,
                                          sys::DWORD flags = 0);
// sys::MoveFileExW, waiting while either name is held. false on failure, existing left as it
// was.
[[nodiscard]] bool MoveFileWaiting(const char16_t* existing, const char16_t* destination,
                                   sys::DWORD flags);
// sys::DeleteFileW, waiting while name is held; clearReadOnly: a read-only file loses the
// attribute first and goes too. false when the name stays (a read-only file without
// clearReadOnly, a folder, an absent name, one held past the wait).
bool DeleteFileWaiting(const char16_t* name, bool clearReadOnly);

}  // namespace ralto
