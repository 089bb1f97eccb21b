// Files on Windows: the system's own handles, share modes, searches and copies.
#include "platform/file_io.h"
#include "platform/test_hooks.h"

#include <windows.h>

#include <sddl.h>

#include <cstddef>
#include <string>

#include "platform/windows/process_user.h"

namespace sys {

// The find data is handed to the system as it is.
static_assert(sizeof(WIN32_FIND_DATAW) == sizeof(::WIN32_FIND_DATAW));
static_assert(offsetof(WIN32_FIND_DATAW, ftCreationTime) ==
              offsetof(::WIN32_FIND_DATAW, ftCreationTime));
static_assert(offsetof(WIN32_FIND_DATAW, nFileSizeLow) ==
              offsetof(::WIN32_FIND_DATAW, nFileSizeLow));
static_assert(offsetof(WIN32_FIND_DATAW, cFileName) == offsetof(::WIN32_FIND_DATAW, cFileName));
static_assert(offsetof(WIN32_FIND_DATAW, cAlternateFileName) ==
              offsetof(::WIN32_FIND_DATAW, cAlternateFileName));

static_assert(sizeof(SECURITY_ATTRIBUTES) == sizeof(::SECURITY_ATTRIBUTES));
static_assert(offsetof(SECURITY_ATTRIBUTES, lpSecurityDescriptor) ==
              offsetof(::SECURITY_ATTRIBUTES, lpSecurityDescriptor));

namespace {

// A protected access list with one entry: read, write and delete for the user the process runs
// as, nothing inherited from the folder. Null when it cannot be built.
void* OwnerOnlyDescriptor() {
  wchar_t sid[SidTextUnits];
  if (!ProcessUserSid(sid)) return nullptr;
  std::wstring sddl = std::wstring(L"D:P(A;;FRFWSD;;;") + sid + L")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
    return nullptr;
  }
  return descriptor;
}

// Set by the tests alone, to see the file that needs it refused.
bool ownerOnlyRefused = false;

}  // namespace

SECURITY_ATTRIBUTES* OwnerOnlySecurity() {
  // Built once and kept for the life of the process. Without it a file would get the folder's
  // entries, which may let others read the secret: no descriptor, no file.
  static SECURITY_ATTRIBUTES ownerOnly{sizeof(SECURITY_ATTRIBUTES), OwnerOnlyDescriptor(), 0};
  // The tests' refusal stands for a descriptor that could not be built.
  const void* descriptor = ownerOnlyRefused ? nullptr : ownerOnly.lpSecurityDescriptor;
  return descriptor ? &ownerOnly : nullptr;
}

DWORD GetLastError() {
  return ::GetLastError();
}

#ifdef RALTO_TEST_HOOKS
void RefuseOwnerOnlySecurity(bool refuse) {
  ownerOnlyRefused = refuse;
}
#endif

HANDLE CreateFileW(const char16_t* name, DWORD access, DWORD shareMode, void* security,
                   DWORD creation, DWORD attributes, HANDLE templateFile) {
  // A new file never opens through a link: CREATE_NEW fails on any name that exists, and
  // opening the reparse point itself keeps it so. DELETE alone asks about the name itself.
  if (creation == CREATE_NEW || access == DELETE) attributes |= FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE file = ::CreateFileW(reinterpret_cast<LPCWSTR>(name), access, shareMode,
                              static_cast<LPSECURITY_ATTRIBUTES>(security), creation, attributes,
                              templateFile);
  // A device or a pipe under the name (CON, a link to \\.\COM1) may keep a read waiting for
  // ever: only a file on a disk is ours to read and write.
  if (file != INVALID_HANDLE_VALUE && ::GetFileType(file) != FILE_TYPE_DISK) {
    ::CloseHandle(file);
    ::SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void* overlapped) {
  return ::ReadFile(file, buffer, bytesToRead, bytesRead, static_cast<LPOVERLAPPED>(overlapped));
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               void* overlapped) {
  return ::WriteFile(file, buffer, bytesToWrite, bytesWritten,
                     static_cast<LPOVERLAPPED>(overlapped));
}

DWORD SetFilePointer(HANDLE file, LONG distanceLow, LONG* distanceHigh, DWORD method) {
  return ::SetFilePointer(file, distanceLow, distanceHigh, method);
}

BOOL SetEndOfFile(HANDLE file) {
  return ::SetEndOfFile(file);
}

BOOL FlushFileBuffers(HANDLE file) {
  return ::FlushFileBuffers(file);
}

BOOL CloseHandle(HANDLE object) {
  return ::CloseHandle(object);
}

HANDLE FindFirstFileW(const char16_t* pattern, WIN32_FIND_DATAW* found) {
  return ::FindFirstFileW(reinterpret_cast<LPCWSTR>(pattern),
                          reinterpret_cast<::WIN32_FIND_DATAW*>(found));
}

BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW* found) {
  return ::FindNextFileW(search, reinterpret_cast<::WIN32_FIND_DATAW*>(found));
}

BOOL FindClose(HANDLE search) {
  return ::FindClose(search);
}

BOOL MoveFileExW(const char16_t* existing, const char16_t* destination, DWORD flags) {
  return ::MoveFileExW(reinterpret_cast<LPCWSTR>(existing), reinterpret_cast<LPCWSTR>(destination),
                       flags);
}

DWORD GetFileAttributesW(const char16_t* name) {
  return ::GetFileAttributesW(reinterpret_cast<LPCWSTR>(name));
}

BOOL DeleteFileW(const char16_t* name) {
  return ::DeleteFileW(reinterpret_cast<LPCWSTR>(name));
}

BOOL SetFileAttributesW(const char16_t* name, DWORD attributes) {
  return ::SetFileAttributesW(reinterpret_cast<LPCWSTR>(name), attributes);
}

BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess,
                 const FILETIME* lastWrite) {
  return ::SetFileTime(file, reinterpret_cast<const ::FILETIME*>(creation),
                       reinterpret_cast<const ::FILETIME*>(lastAccess),
                       reinterpret_cast<const ::FILETIME*>(lastWrite));
}

}  // namespace sys
