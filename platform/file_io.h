// Files by handle and by name: open, read, write, seek, close, find, copy, delete.
#pragma once
#include "platform/types.h"

namespace sys {

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD FILE_WRITE_ATTRIBUTES = 0x100;
inline constexpr DWORD DELETE = 0x10000;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD FILE_SHARE_DELETE = 0x4;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;
inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
inline constexpr DWORD FILE_FLAG_OPEN_REPARSE_POINT = 0x200000;
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;
inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;
inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_SHARING_VIOLATION = 32;
inline constexpr DWORD ERROR_LOCK_VIOLATION = 33;

// Whether an entry with these attributes keeps its name for good: a folder or a read-only file
// is neither replaced by a rename nor removed, however long one waits.
inline bool KeepsItsName(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
}

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  void* lpSecurityDescriptor;
  BOOL bInheritHandle;
};

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  char16_t cFileName[260];
  char16_t cAlternateFileName[14];
};

// Security for a file that only its owner may open, because it holds a secret. Given to
// CreateFileW it applies to a file the call creates; on POSIX also to one it truncates. Null
// when it cannot be built: such a file is then not to be made at all.
SECURITY_ATTRIBUTES* OwnerOnlySecurity();

// Why the calling thread's last failed call of this header failed. On POSIX the errno value
// with bit 29 set, which Windows leaves to codes of a program's own: POSIX has no share modes,
// so no code there ever says that another process holds a file.
DWORD GetLastError();

// INVALID_HANDLE_VALUE on failure; only a file on a disk is handed out, never a directory, a
// pipe, a device or a socket (after the name's links), and opening never waits. On Linux such
// an entry is never opened at all; Windows opens a device or a pipe (its driver acts) and the
// call closes it again at once. CREATE_NEW and FILE_FLAG_OPEN_REPARSE_POINT never go through a
// link: a link under the name is an existing file, opened as itself (on Linux refused).
// CREATE_NEW makes nothing in a folder that keeps every name in it for good (on Linux an
// append-only or immutable one), where the file could never be renamed or removed. A file
// the call creates is readable and writable by its creator whatever the umask, unless
// FILE_ATTRIBUTE_READONLY asks otherwise. DELETE alone asks whether the name itself may be
// renamed over or removed: it fails when it may not (on Linux also for a file mounted on its
// own or on a read-only mount and an immutable or append-only file), and the handle can
// neither read nor write. Access 0 with OPEN_EXISTING asks whether a file is there, readable
// or not; its handle can neither read nor write either.
[[nodiscard]] HANDLE CreateFileW(const char16_t* name, DWORD access, DWORD shareMode,
                                 void* security, DWORD creation, DWORD attributes,
                                 HANDLE templateFile);
// Fewer bytes than asked only at the end of the file. FALSE when the read fails or the handle is
// not open for reading; *bytesRead counts what came before.
BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void* overlapped);
// FALSE unless every byte was written (no room, the file-size limit, an I/O error, a handle not
// open for writing); *bytesWritten counts those that were.
BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               void* overlapped);
// Moves by the signed 64-bit distance (high part optional); the new low part, or
// INVALID_SET_FILE_POINTER on failure.
DWORD SetFilePointer(HANDLE file, LONG distanceLow, LONG* distanceHigh, DWORD method);
// Ends the file at the current position; FALSE when it could not.
BOOL SetEndOfFile(HANDLE file);
// Writes the file's data through to the disk; FALSE when it could not.
BOOL FlushFileBuffers(HANDLE file);
// FALSE for a handle that is not open (on POSIX also for one this layer did not open).
BOOL CloseHandle(HANDLE object);

// The first entry matching a name or a pattern with * and ? in its last component, described
// as GetFileAttributesW sees it (a link by the link, its times included); INVALID_HANDLE_VALUE
// when nothing matches. The search goes on with FindNextFileW and must
// end with FindClose.
[[nodiscard]] HANDLE FindFirstFileW(const char16_t* pattern, WIN32_FIND_DATAW* found);
// The next matching entry; FALSE at the end. Each entry comes at most once, also while
// entries are being deleted, so a loop over a folder always ends.
BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW* found);
// FALSE for a null or invalid search handle.
BOOL FindClose(HANDLE search);
// Renames in one step; with MOVEFILE_REPLACE_EXISTING an existing destination (a link
// included, as a name) is replaced, unless it is a directory or read-only. With
// MOVEFILE_WRITE_THROUGH the rename has reached the disk when the call returns (on POSIX, when
// the folder's sync succeeds; TRUE tells that the rename was done, synced or not).
[[nodiscard]] BOOL MoveFileExW(const char16_t* existing, const char16_t* destination, DWORD flags);
// The name's own attributes, a link's not its target's (FILE_ATTRIBUTE_REPARSE_POINT);
// INVALID_FILE_ATTRIBUTES when there is none.
DWORD GetFileAttributesW(const char16_t* name);
// Removes the name; FALSE when it is absent or refused (a directory, a read-only file).
BOOL DeleteFileW(const char16_t* name);
// FALSE when the name is absent or the change is refused. On POSIX only FILE_ATTRIBUTE_READONLY
// counts (it clears every write bit, its absence sets the owner's), and a link is left as it is.
BOOL SetFileAttributesW(const char16_t* name, DWORD attributes);
// Sets the file's times through a handle opened with FILE_WRITE_ATTRIBUTES; a null time is left
// as it is. POSIX cannot set a birth time: there the creation time stays the moment the file
// was made, and only the other two are set (by the file's owner); TRUE for an open handle with
// those two null.
BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess,
                 const FILETIME* lastWrite);

}  // namespace sys
