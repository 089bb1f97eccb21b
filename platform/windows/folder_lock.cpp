// The folder lock on Windows: a named mutex per folder. The folder is not opened without
// sharing, which would make every rename into it fail.
#include "platform/folder_lock.h"

#include <windows.h>

#include <cstdint>
#include <cwchar>

namespace sys {

FolderLockResult LockFolder(const char16_t* folder, HANDLE* lock) {
  *lock = nullptr;
  if (!folder) return FolderLockUnavailable;
  ::HANDLE directory = ::CreateFileW(reinterpret_cast<LPCWSTR>(folder), 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (directory == INVALID_HANDLE_VALUE) return FolderLockUnavailable;
  // The final path names the folder however it was reached (relative, through a junction,
  // in another letter case as typed).
  wchar_t path[32768];
  DWORD length = ::GetFinalPathNameByHandleW(directory, path, 32768, FILE_NAME_NORMALIZED);
  ::CloseHandle(directory);
  if (length == 0 || length >= 32768) return FolderLockUnavailable;

  // A mutex name may hold no backslash and at most MAX_PATH characters: the path's digest
  // (FNV-1a, 64 bits, over the upper-cased units, as NTFS compares names) stands for it.
  ::CharUpperBuffW(path, length);
  std::uint64_t digest = 14695981039346656037ull;
  for (DWORD i = 0; i < length; ++i) {
    digest = (digest ^ static_cast<std::uint16_t>(path[i])) * 1099511628211ull;
  }
  wchar_t name[64];
  std::swprintf(name, 64, L"Global\\ralto-update-%016llx", static_cast<unsigned long long>(digest));

  ::HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name);
  if (!mutex) return FolderLockUnavailable;
  switch (::WaitForSingleObject(mutex, 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // its last owner ended without releasing it: ours now
      *lock = mutex;
      return FolderLockTaken;
    case WAIT_TIMEOUT:
      ::CloseHandle(mutex);
      return FolderLockHeld;
    default:
      ::CloseHandle(mutex);
      return FolderLockUnavailable;
  }
}

void UnlockFolder(HANDLE lock) {
  if (!lock) return;
  ::ReleaseMutex(lock);
  ::CloseHandle(lock);
}

}  // namespace sys
