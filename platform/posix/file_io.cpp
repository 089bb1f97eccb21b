// Files by handle and by name on POSIX descriptors: a handle is the descriptor plus one, and
// only descriptors opened here are ever read, written, moved or closed through a handle.
#include "platform/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "platform/posix/handles_and_paths.h"
#include "platform/posix/robust_io.h"
#include "platform/test_hooks.h"
#include "platform/text_codec.h"

namespace sys {
namespace {

using posix::DescriptorIn;
using posix::ToFileTime;
using posix::ToPath;

// Descriptors this layer opened. Other handles (threads, searches) reach CloseHandle too,
// and a stray value must never close a descriptor that belongs to someone else.
std::mutex handlesLock;
std::vector<bool> ownedDescriptors;

// Only its address matters: it asks for mode 0600.
SECURITY_ATTRIBUTES ownerOnlySecurity{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
// Set by the tests alone, to see the file that needs it refused.
bool ownerOnlyRefused = false;

void Own(int fd) {
  std::lock_guard<std::mutex> guard(handlesLock);
  if (ownedDescriptors.size() <= static_cast<std::size_t>(fd)) {
    ownedDescriptors.resize(static_cast<std::size_t>(fd) + 1, false);
  }
  ownedDescriptors[fd] = true;
}

// The descriptor behind a handle of ours, or -1.
int DescriptorOf(HANDLE handle) {
  const int fd = DescriptorIn(handle);
  if (fd < 0) return -1;
  std::lock_guard<std::mutex> guard(handlesLock);
  if (static_cast<std::size_t>(fd) >= ownedDescriptors.size()) return -1;
  return ownedDescriptors[fd] ? fd : -1;
}

// Gives the descriptor up: it is no longer ours, whatever close then says.
int Disown(HANDLE handle) {
  const int fd = DescriptorIn(handle);
  if (fd < 0) return -1;
  std::lock_guard<std::mutex> guard(handlesLock);
  if (static_cast<std::size_t>(fd) >= ownedDescriptors.size() || !ownedDescriptors[fd]) {
    return -1;
  }
  ownedDescriptors[fd] = false;
  return fd;
}

// The folder part of path ("." when there is none) into folder.
void FolderOf(const char* path, char (&folder)[PATH_MAX]) {
  const char* slash = std::strrchr(path, '/');
  if (!slash) {
    std::strcpy(folder, ".");
  } else if (slash == path) {
    std::strcpy(folder, "/");
  } else {
    std::size_t length = static_cast<std::size_t>(slash - path);
    std::memcpy(folder, path, length);
    folder[length] = 0;
  }
}

// Read-only is the owner's write bit: nothing is written into such a file, by root neither,
// as on Windows.
bool IsReadOnly(mode_t mode) {
  return S_ISREG(mode) && !(mode & S_IWUSR);
}

// Whether rename and unlink refuse the process another user's entry at path: in a folder with
// the sticky bit (as /tmp) an entry goes only by its owner, the folder's owner or a process
// with CAP_FOWNER.
bool StickyFolderKeeps(const char* path, uid_t owner) {
  if (owner == geteuid()) return false;
  char folder[PATH_MAX];
  FolderOf(path, folder);
  struct stat status;
  if (stat(folder, &status) != 0 || !(status.st_mode & S_ISVTX) || status.st_uid == geteuid()) {
    return false;
  }
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct capabilities[_LINUX_CAPABILITY_U32S_3] = {};
  return syscall(SYS_capget, &header, capabilities) != 0 ||
         !(capabilities[CAP_TO_INDEX(CAP_FOWNER)].effective & CAP_TO_MASK(CAP_FOWNER));
}

// The attributes of the entry at path as it stands under its name, never those of a link's
// target: the name is what the program replaces. Read-only for a file of the process's own user
// without the owner's write bit, and for any entry that the sticky bit keeps from the process:
// another user's file under a name the program writes is otherwise replaced as a name, never a
// reason to stop for ever.
DWORD AttributesOf(const char* path, mode_t mode, uid_t owner) {
  if (S_ISDIR(mode)) return FILE_ATTRIBUTE_DIRECTORY;
  const DWORD kept = StickyFolderKeeps(path, owner) ? FILE_ATTRIBUTE_READONLY : 0;
  if (S_ISLNK(mode)) return FILE_ATTRIBUTE_REPARSE_POINT | kept;
  if (kept || (IsReadOnly(mode) && owner == geteuid())) return FILE_ATTRIBUTE_READONLY;
  return FILE_ATTRIBUTE_NORMAL;
}

// Whether the entry at path keeps its name, by the attributes it shows.
bool NameKept(const char* path, const struct stat& status) {
  return KeepsItsName(AttributesOf(path, status.st_mode, status.st_uid));
}

// What a handle may stand for: a regular file, nothing that a read or an open may keep waiting.
bool Openable(const struct stat& status) {
  return S_ISREG(status.st_mode);
}

// An O_PATH descriptor of the file at path, after its links unless flags carry O_NOFOLLOW,
// only when it is a regular file: a device, a pipe, a socket or a folder is refused (EACCES, as
// Windows refuses a folder). O_PATH opens no driver: a device's open may act (/dev/ptmx makes a
// terminal) and its reads may wait for ever.
int LookAtRegular(const char* path, int flags) {
  const int look = open(path, O_PATH | O_CLOEXEC | (flags & O_NOFOLLOW));
  if (look < 0) return -1;
  struct stat status;
  if (fstat(look, &status) != 0 || !Openable(status)) {
    close(look);
    errno = EACCES;
    return -1;
  }
  return look;
}

// Opens the file at path only when the look finds a regular file there. Should the name change
// between the look and the open, flags carry O_NONBLOCK and the caller's fstat refuses what
// then came.
int OpenRegular(const char* path, int flags) {
  const int look = LookAtRegular(path, flags);
  if (look < 0) return -1;
  // The file looked at is the one opened: /proc opens the descriptor again, with no second
  // walk of the path that someone could have changed meanwhile. Without /proc the path is
  // walked again, and the caller's fstat refuses what came instead.
  char same[32];
  std::snprintf(same, sizeof same, "/proc/self/fd/%d", look);
  int fd = open(same, flags & ~O_NOFOLLOW);
  if (fd < 0 && errno == ENOENT) fd = open(path, flags);
  const int error = errno;
  close(look);
  errno = error;
  return fd;
}

// Whether the entry is a mount point of its own inside folder (a file bind-mounted over its
// name, as a container mounts one file): a rename onto it or its removal fails with EBUSY.
bool MountedOnItsOwn(const struct statx& entry, const struct statx& folder) {
  if ((entry.stx_mask & STATX_MNT_ID) && (folder.stx_mask & STATX_MNT_ID)) {
    return entry.stx_mnt_id != folder.stx_mnt_id;
  }
  return entry.stx_dev_major != folder.stx_dev_major || entry.stx_dev_minor != folder.stx_dev_minor;
}

// Whether an entry with these statx attributes keeps its names for good: an immutable or
// append-only file keeps its own, such a folder every name in it, from root too.
bool KeepsNames(const struct statx& entry) {
  return entry.stx_attributes & (STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND);
}

// Whether the folder that holds path keeps every name in it for good: a file made there could
// never be renamed or removed again.
bool FolderKeepsNames(const char* path) {
  char folder[PATH_MAX];
  FolderOf(path, folder);
  struct statx around;
  return statx(AT_FDCWD, folder, 0, STATX_BASIC_STATS, &around) == 0 && KeepsNames(around);
}

// DELETE alone: the name itself, never a link's target, refused where a rename onto it or its
// removal would fail: a folder or a read-only entry (EACCES), an immutable or append-only file
// (EPERM), a file mounted on its own (EBUSY). The descriptor opens no file's content.
int OpenAsName(const char* path) {
  const int fd = open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  char folder[PATH_MAX];
  FolderOf(path, folder);
  struct statx entry;
  struct statx around;
  const unsigned int wanted = STATX_BASIC_STATS | STATX_MNT_ID;
  int error = 0;
  if (statx(fd, "", AT_EMPTY_PATH, wanted, &entry) != 0 ||
      statx(AT_FDCWD, folder, 0, wanted, &around) != 0) {
    error = errno;
  } else if (KeepsItsName(AttributesOf(path, entry.stx_mode, entry.stx_uid))) {
    error = EACCES;
  } else if (KeepsNames(entry)) {
    error = EPERM;
  } else if (MountedOnItsOwn(entry, around)) {
    error = EBUSY;
  } else if (struct statvfs mount; fstatvfs(fd, &mount) == 0 && (mount.f_flag & ST_RDONLY)) {
    // Where statx tells no mount ID (kernels before 5.8, qemu-user) a file bind-mounted
    // read-only over its name looks like its folder's; its mount still says read-only.
    error = EROFS;
  }
  if (error != 0) {
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

int OpenCreating(const char* path, int flags, mode_t mode, bool* created) {
  // Exclusive create first, so that we know whether the file was there before: a file that
  // existed keeps its read-only protection, one we made is ours to write.
  for (int attempt = 0; attempt < 8; ++attempt) {
    int fd = open(path, flags | O_CREAT | O_EXCL, mode);
    if (fd >= 0) {
      *created = true;
      return fd;
    }
    if (errno != EEXIST) return -1;
    fd = OpenRegular(path, flags);
    if (fd >= 0 || errno != ENOENT) return fd;
  }
  return -1;
}

bool HasWildcard(const char16_t* text) {
  for (; *text; ++text) {
    if (*text == u'*' || *text == u'?') return true;
  }
  return false;
}

// * matches any run of units, ? exactly one; everything else itself, case and all.
bool MatchesPattern(const char16_t* pattern, const char16_t* name) {
  const char16_t* starPattern = nullptr;
  const char16_t* starName = nullptr;
  while (*name) {
    if (*pattern == u'*') {
      starPattern = ++pattern;
      starName = name;
    } else if (*pattern == u'?' || *pattern == *name) {
      ++pattern;
      ++name;
    } else if (starPattern) {
      pattern = starPattern;
      name = ++starName;
    } else {
      return false;
    }
  }
  while (*pattern == u'*') ++pattern;
  return *pattern == 0;
}

// Fills found from the entry at path, its name from entryName (UTF-8).
bool DescribeEntry(const char* path, const char* entryName, WIN32_FIND_DATAW* found) {
  struct statx status;
  if (statx(AT_FDCWD, path, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &status) != 0) {
    return false;
  }
  std::memset(found, 0, sizeof *found);
  found->dwFileAttributes = AttributesOf(path, status.stx_mode, status.stx_uid);
  const struct statx_timestamp& born =
      (status.stx_mask & STATX_BTIME) ? status.stx_btime : status.stx_ctime;
  found->ftCreationTime = ToFileTime(born.tv_sec, born.tv_nsec);
  found->ftLastAccessTime = ToFileTime(status.stx_atime.tv_sec, status.stx_atime.tv_nsec);
  found->ftLastWriteTime = ToFileTime(status.stx_mtime.tv_sec, status.stx_mtime.tv_nsec);
  found->nFileSizeHigh = static_cast<DWORD>(status.stx_size >> 32);
  found->nFileSizeLow = static_cast<DWORD>(status.stx_size);
  int units = MultiByteToWideChar(CP_UTF8, 0, entryName, -1, found->cFileName, 260);
  if (units == 0) found->cFileName[0] = 0;  // a name too long for the record stays unnamed
  return true;
}

// A search: the folder being listed and the pattern its entries are matched with; a search
// for one name has no listing and ends after its first entry.
struct Search {
  DIR* listing;
  char folder[PATH_MAX];
  char16_t pattern[NAME_MAX + 1];
};

// The next entry of the listing that matches, into found; false at the end.
bool NextMatch(Search* search, WIN32_FIND_DATAW* found) {
  if (!search->listing) return false;
  while (dirent* entry = readdir(search->listing)) {
    char16_t entryName[NAME_MAX + 1];
    if (MultiByteToWideChar(CP_UTF8, 0, entry->d_name, -1, entryName, NAME_MAX + 1) == 0) {
      continue;
    }
    if (!MatchesPattern(search->pattern, entryName)) continue;
    char entryPath[PATH_MAX];
    int length = std::snprintf(entryPath, sizeof entryPath, "%s/%s", search->folder, entry->d_name);
    if (length < 0 || length >= static_cast<int>(sizeof entryPath)) continue;
    if (DescribeEntry(entryPath, entry->d_name, found)) return true;
  }
  return false;
}

void EndSearch(Search* search) {
  if (search->listing) closedir(search->listing);
  delete search;
}

}  // namespace

SECURITY_ATTRIBUTES* OwnerOnlySecurity() {
  return ownerOnlyRefused ? nullptr : &ownerOnlySecurity;
}

DWORD GetLastError() {
  return 0x20000000u | static_cast<DWORD>(errno);
}

#ifdef RALTO_TEST_HOOKS
void RefuseOwnerOnlySecurity(bool refuse) {
  ownerOnlyRefused = refuse;
}
#endif

HANDLE CreateFileW(const char16_t* name, DWORD access, DWORD, void* security, DWORD creation,
                   DWORD attributes, HANDLE) {
  char path[PATH_MAX];
  if (!ToPath(name, path)) return INVALID_HANDLE_VALUE;
  bool reads = access & GENERIC_READ;
  bool writes = access & GENERIC_WRITE;
  // Opening never waits: a pipe under a working file's name would otherwise hold the pass in
  // open() for ever. Only a regular file is opened; it gets its blocking mode back.
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (writes ? (reads ? O_RDWR : O_WRONLY) : O_RDONLY);
  const bool ownerOnly = security == &ownerOnlySecurity;
  mode_t mode = (attributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
  if (ownerOnly) mode &= 0700;
  bool created = false;
  bool truncates = creation == CREATE_ALWAYS || creation == TRUNCATE_EXISTING;
  if (truncates && !writes) return INVALID_HANDLE_VALUE;
  if (access == DELETE) {
    if (creation != OPEN_EXISTING) return INVALID_HANDLE_VALUE;
    const int name = OpenAsName(path);
    if (name < 0) return INVALID_HANDLE_VALUE;
    Own(name);
    return posix::HandleOf(name);
  }
  if (attributes & FILE_FLAG_OPEN_REPARSE_POINT) flags |= O_NOFOLLOW;
  if (access == 0) {
    // Neither read nor written: whether a regular file is there, readable or not.
    if (creation != OPEN_EXISTING) return INVALID_HANDLE_VALUE;
    const int look = LookAtRegular(path, flags);
    if (look < 0) return INVALID_HANDLE_VALUE;
    Own(look);
    return posix::HandleOf(look);
  }

  int fd = -1;
  switch (creation) {
    case CREATE_NEW:
      // Nothing is made that could never go again: in a folder that keeps every name, a new
      // file would stay for good, whatever its maker meant it for.
      if (FolderKeepsNames(path)) {
        errno = EPERM;
        return INVALID_HANDLE_VALUE;
      }
      fd = open(path, flags | O_CREAT | O_EXCL | O_NOFOLLOW, mode);
      created = fd >= 0;
      break;
    case CREATE_ALWAYS:
    case OPEN_ALWAYS:
      fd = OpenCreating(path, flags, mode, &created);
      break;
    case OPEN_EXISTING:
    case TRUNCATE_EXISTING:
      fd = OpenRegular(path, flags);
      break;
    default:
      return INVALID_HANDLE_VALUE;
  }
  if (fd < 0) return INVALID_HANDLE_VALUE;

  struct stat status;
  bool refused = fstat(fd, &status) != 0 || !Openable(status) ||
                 (writes && !created && IsReadOnly(status.st_mode)) ||
                 fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0;
  // Whatever the umask took away, a file we made stays readable and writable to us, as on
  // Windows: one we could not read back would hold nothing for the next run.
  const mode_t ours = (attributes & FILE_ATTRIBUTE_READONLY) ? S_IRUSR : S_IRUSR | S_IWUSR;
  if (!refused && created && (status.st_mode & ours) != ours) {
    refused = fchmod(fd, (status.st_mode & 07777) | ours) != 0;
  }
  // Truncation waits until the checks above have passed, so a refused open changes nothing.
  if (!refused && truncates && !created) {
    // Others lose their access before the old content goes and anything new is written.
    if (ownerOnly) refused = fchmod(fd, status.st_mode & 0700) != 0;
    refused = refused || ftruncate(fd, 0) != 0;
  }
  if (refused) {
    close(fd);
    return INVALID_HANDLE_VALUE;
  }
  Own(fd);
  return posix::HandleOf(fd);
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void*) {
  if (bytesRead) *bytesRead = 0;
  int fd = DescriptorOf(file);
  if (fd < 0 || (!buffer && bytesToRead)) return FALSE;
  // Windows reads a file to the requested count unless the end comes first; so do we, so
  // that a short result always means the end of the file.
  DWORD total = 0;
  while (total < bytesToRead) {
    ssize_t n = posix::ReadRetrying(fd, static_cast<char*>(buffer) + total, bytesToRead - total);
    if (n < 0) {
      if (bytesRead) *bytesRead = total;
      return FALSE;
    }
    if (n == 0) break;
    total += static_cast<DWORD>(n);
  }
  if (bytesRead) *bytesRead = total;
  return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten, void*) {
  if (bytesWritten) *bytesWritten = 0;
  int fd = DescriptorOf(file);
  if (fd < 0 || (!buffer && bytesToWrite)) return FALSE;
  std::size_t written = 0;
  bool complete = posix::WriteAll(fd, buffer, bytesToWrite, &written);
  if (bytesWritten) *bytesWritten = static_cast<DWORD>(written);
  return complete ? TRUE : FALSE;
}

DWORD SetFilePointer(HANDLE file, LONG distanceLow, LONG* distanceHigh, DWORD method) {
  int fd = DescriptorOf(file);
  if (fd < 0) return INVALID_SET_FILE_POINTER;
  std::int64_t distance =
      distanceHigh ? static_cast<std::int64_t>((static_cast<std::uint64_t>(*distanceHigh) << 32) |
                                               static_cast<std::uint32_t>(distanceLow))
                   : static_cast<std::int64_t>(distanceLow);
  int whence = method == FILE_BEGIN     ? SEEK_SET
               : method == FILE_CURRENT ? SEEK_CUR
               : method == FILE_END     ? SEEK_END
                                        : -1;
  if (whence < 0) return INVALID_SET_FILE_POINTER;
  off_t position = lseek(fd, static_cast<off_t>(distance), whence);
  if (position < 0) return INVALID_SET_FILE_POINTER;
  if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<std::uint64_t>(position) >> 32);
  return static_cast<DWORD>(position);
}

BOOL SetEndOfFile(HANDLE file) {
  int fd = DescriptorOf(file);
  if (fd < 0) return FALSE;
  const off_t end = lseek(fd, 0, SEEK_CUR);
  return end >= 0 && ftruncate(fd, end) == 0 ? TRUE : FALSE;
}

BOOL FlushFileBuffers(HANDLE file) {
  int fd = DescriptorOf(file);
  return fd >= 0 && fsync(fd) == 0 ? TRUE : FALSE;
}

BOOL CloseHandle(HANDLE object) {
  int fd = Disown(object);
  if (fd < 0) return FALSE;
  close(fd);  // the descriptor is gone whatever close reports
  return TRUE;
}

HANDLE FindFirstFileW(const char16_t* pattern, WIN32_FIND_DATAW* found) {
  char path[PATH_MAX];
  if (!found || !ToPath(pattern, path)) return INVALID_HANDLE_VALUE;
  const char16_t* last = pattern;
  for (const char16_t* unit = pattern; *unit; ++unit) {
    if (*unit == u'/') last = unit + 1;
  }
  if (!*last) return INVALID_HANDLE_VALUE;

  auto* search = new (std::nothrow) Search{};
  if (!search) return INVALID_HANDLE_VALUE;
  if (!HasWildcard(last)) {
    const char* slash = std::strrchr(path, '/');
    if (DescribeEntry(path, slash ? slash + 1 : path, found)) return search;
    EndSearch(search);
    return INVALID_HANDLE_VALUE;
  }
  std::size_t units = 0;
  for (const char16_t* unit = last; *unit && units < NAME_MAX; ++unit)
    search->pattern[units++] = *unit;
  FolderOf(path, search->folder);
  search->listing = opendir(search->folder);
  if (!search->listing || !NextMatch(search, found)) {
    EndSearch(search);
    return INVALID_HANDLE_VALUE;
  }
  return search;
}

BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW* found) {
  if (!search || search == INVALID_HANDLE_VALUE || !found) return FALSE;
  return NextMatch(static_cast<Search*>(search), found) ? TRUE : FALSE;
}

BOOL FindClose(HANDLE search) {
  if (!search || search == INVALID_HANDLE_VALUE) return FALSE;
  EndSearch(static_cast<Search*>(search));
  return TRUE;
}

BOOL MoveFileExW(const char16_t* existing, const char16_t* destination, DWORD flags) {
  char from[PATH_MAX];
  char to[PATH_MAX];
  if (!ToPath(existing, from) || !ToPath(destination, to)) return FALSE;
  struct stat target;
  if (lstat(to, &target) == 0) {
    // As on Windows: never onto a directory or a read-only file, nor onto any existing name
    // unless asked to replace it.
    if (!(flags & MOVEFILE_REPLACE_EXISTING) || NameKept(to, target)) return FALSE;
  } else if (errno != ENOENT) {
    return FALSE;
  }
  if (rename(from, to) != 0) return FALSE;
  // The rename is done, and the answer says so whatever the folder's sync gives: a failed sync
  // only leaves it to the file system's own schedule, so that a crash in the next moments may
  // bring the old file back under the name. Failing here would tell the caller the destination
  // was left alone when it was replaced.
  if (flags & MOVEFILE_WRITE_THROUGH) {
    char folder[PATH_MAX];
    FolderOf(to, folder);
    const int folderFd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
      fsync(folderFd);
      close(folderFd);
    }
  }
  return TRUE;
}

DWORD GetFileAttributesW(const char16_t* name) {
  char path[PATH_MAX];
  struct stat status;
  if (!ToPath(name, path) || lstat(path, &status) != 0) return INVALID_FILE_ATTRIBUTES;
  return AttributesOf(path, status.st_mode, status.st_uid);
}

BOOL DeleteFileW(const char16_t* name) {
  char path[PATH_MAX];
  if (!ToPath(name, path)) return FALSE;
  struct stat status;
  if (lstat(path, &status) != 0 || NameKept(path, status)) return FALSE;
  return unlink(path) == 0 ? TRUE : FALSE;
}

BOOL SetFileAttributesW(const char16_t* name, DWORD attributes) {
  char path[PATH_MAX];
  if (!ToPath(name, path)) return FALSE;
  struct stat status;
  if (lstat(path, &status) != 0) return FALSE;
  if (S_ISLNK(status.st_mode)) return TRUE;  // a link has no mode of its own to change
  mode_t mode = status.st_mode & 07777;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  } else {
    mode |= S_IWUSR;
  }
  return fchmodat(AT_FDCWD, path, mode, AT_SYMLINK_NOFOLLOW) == 0 ? TRUE : FALSE;
}

BOOL SetFileTime(HANDLE file, const FILETIME*, const FILETIME* lastAccess,
                 const FILETIME* lastWrite) {
  // No call sets a birth time: a file's creation time is when it was made, also after a rename
  // onto an old name, so that part of the call has nothing left to do.
  const int fd = DescriptorOf(file);
  if (fd < 0) return FALSE;
  struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
  const FILETIME* given[2] = {lastAccess, lastWrite};
  for (int i = 0; i < 2; ++i) {
    if (!given[i]) continue;
    const std::int64_t ticks = static_cast<std::int64_t>(
        (std::uint64_t{given[i]->dwHighDateTime} << 32) | given[i]->dwLowDateTime);
    times[i] = {static_cast<time_t>(ticks / 10000000 - posix::SecondsFrom1601To1970),
                static_cast<long>(ticks % 10000000 * 100)};
  }
  return futimens(fd, times) == 0 ? TRUE : FALSE;
}

}  // namespace sys
