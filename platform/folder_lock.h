// One run at a time per folder: an exclusive lock between processes, taken without waiting.
// On Windows a named mutex of the run's user, named by the user's SID and the folder's
// identity (its volume's serial number and its file ID, whatever path reaches it; where the
// file system tells none, a digest of its final path), owned by that user and open to that
// user alone: runs of one user exclude each other, runs of different users do not. On POSIX
// flock on the folder's own descriptor. Neither creates a file, so the folder's content is the
// same with or without it.
// Released when the process ends, however it ends.
#pragma once
#include "platform/types.h"

namespace sys {

enum FolderLockResult : DWORD {
  FolderLockTaken = 0,        // ours until UnlockFolder or the end of the process
  FolderLockHeld = 1,         // another process holds it
  // cannot be told (no such folder, a file system without locks, on Windows a mutex of the
  // name that another user made or that refuses us)
  FolderLockUnavailable = 2,
};

// Takes the lock of folder; *lock receives the handle to release it with when the result is
// FolderLockTaken, else null.
[[nodiscard]] FolderLockResult LockFolder(const char16_t* folder, HANDLE* lock);
// Releases a lock LockFolder took; a null lock does nothing.
void UnlockFolder(HANDLE lock);

}  // namespace sys
