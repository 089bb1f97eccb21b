// The folder lock on POSIX: flock on a descriptor of the folder itself.
#include "platform/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>

#include "platform/text_codec.h"

namespace sys {

FolderLockResult LockFolder(const char16_t* folder, HANDLE* lock) {
  *lock = nullptr;
  char path[PATH_MAX];
  if (!folder ||
      WideCharToMultiByte(CP_UTF8, 0, folder, -1, path, PATH_MAX, nullptr, nullptr) <= 0) {
    return FolderLockUnavailable;
  }
  int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return FolderLockUnavailable;
  // Without waiting, so no signal can interrupt it.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    // Only "someone has it" stops a run; any other failure (NFS without lock support, say)
    // must not make every run end quietly.
    const bool held = errno == EWOULDBLOCK;
    close(fd);
    return held ? FolderLockHeld : FolderLockUnavailable;
  }
  // The descriptor plus one, so that descriptor 0 is not a null handle.
  *lock = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd) + 1);
  return FolderLockTaken;
}

void UnlockFolder(HANDLE lock) {
  if (!lock) return;
  close(static_cast<int>(reinterpret_cast<std::intptr_t>(lock) - 1));  // closing releases it
}

}  // namespace sys
