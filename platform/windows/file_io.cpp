// Files on Windows: the system's own handles, share modes, searches and copies.
#include "platform/file_io.h"

#include <windows.h>
#include <sddl.h>

#include <cstddef>

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

SECURITY_ATTRIBUTES* OwnerOnlySecurity() {
  // A protected access list with one entry: all access for the file's owner, none inherited.
  // Built once and kept for the life of the process; without it a file gets the folder's.
  static SECURITY_ATTRIBUTES ownerOnly = [] {
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, 0};
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;OW)",
                                                               SDDL_REVISION_1, &descriptor,
                                                               nullptr)) {
      attributes.lpSecurityDescriptor = descriptor;
    }
    return attributes;
  }();
  return &ownerOnly;
}

HANDLE CreateFileW(const char16_t* name, DWORD access, DWORD shareMode, void* security,
                   DWORD creation, DWORD attributes, HANDLE templateFile) {
  return ::CreateFileW(reinterpret_cast<LPCWSTR>(name), access, shareMode,
                       static_cast<LPSECURITY_ATTRIBUTES>(security), creation, attributes,
                       templateFile);
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

BOOL CloseHandle(HANDLE object) { return ::CloseHandle(object); }

HANDLE FindFirstFileW(const char16_t* pattern, WIN32_FIND_DATAW* found) {
  return ::FindFirstFileW(reinterpret_cast<LPCWSTR>(pattern),
                          reinterpret_cast<::WIN32_FIND_DATAW*>(found));
}

BOOL FindClose(HANDLE search) { return ::FindClose(search); }

BOOL CopyFileW(const char16_t* source, const char16_t* destination, BOOL failIfExists) {
  return ::CopyFileW(reinterpret_cast<LPCWSTR>(source), reinterpret_cast<LPCWSTR>(destination),
                     failIfExists);
}

BOOL DeleteFileW(const char16_t* name) { return ::DeleteFileW(reinterpret_cast<LPCWSTR>(name)); }

BOOL SetFileAttributesW(const char16_t* name, DWORD attributes) {
  return ::SetFileAttributesW(reinterpret_cast<LPCWSTR>(name), attributes);
}

}  // namespace sys
