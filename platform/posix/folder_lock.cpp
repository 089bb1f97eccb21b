// The folder lock on POSIX: flock on a descriptor of the folder itself.
#include "platform/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/handles_and_paths.h"

namespace sys {

FolderLockResult LockFolder(const char16_t* folder, HANDLE* lock) {
  *lock = nullptr;
  char path[PATH_MAX];
  if (!posix::ToPath(folder, path)) return FolderLockUnavailable;
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
  *lock = posix::HandleOf(fd);
  return FolderLockTaken;
}

void UnlockFolder(HANDLE lock) {
  const int fd = posix::DescriptorIn(lock);
  if (fd >= 0) close(fd);  // closing releases it
}

}  // namespace sys
