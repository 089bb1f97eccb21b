// The folder lock on Windows: a named mutex per user and folder, the folder known by its file
// ID. The folder is not opened without sharing, which would make every rename into it fail.
#include "platform/folder_lock.h"
#include "platform/test_hooks.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <iterator>

#include "platform/windows/process_user.h"

namespace sys {
namespace {

#ifdef RALTO_TEST_HOOKS
// Set by the tests alone, to see a mutex of another owner refused.
const char16_t* namedOwner = nullptr;
// Set by the tests alone: 1 to see a folder named by the file index route, 2 one whose file
// system tells no file ID.
int noFileIds = 0;
#endif

// Whether the object's owner is the SID sid (text form); false when it cannot be read.
bool OwnedBy(::HANDLE object, const wchar_t* sid) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  wchar_t ownerText[SidTextUnits];
  bool known = SidText(owner, ownerText);
#ifdef RALTO_TEST_HOOKS
  if (namedOwner) {
    known = std::swprintf(ownerText, SidTextUnits, L"%ls",
                          reinterpret_cast<const wchar_t*>(namedOwner)) > 0;
  }
#endif
  const bool same = known && std::wcscmp(ownerText, sid) == 0;
  ::LocalFree(descriptor);
  return same;
}

// The file ID queries, 128 bits and the older 64; the tests' flavour may answer them with zero
// IDs, as a file system that tells none. Its 128-bit query tells a serial of 64 bits, as NTFS
// does, where Wine tells 32.
bool QueryFileId(::HANDLE file, ::FILE_ID_INFO* id) {
  const bool done = ::GetFileInformationByHandleEx(file, FileIdInfo, id, sizeof *id);
#ifdef RALTO_TEST_HOOKS
  id->VolumeSerialNumber |= 0x5E7A100000000000ull;
  if (noFileIds > 0) id->FileId = {};
#endif
  return done;
}

bool QueryFileIndex(::HANDLE file, ::BY_HANDLE_FILE_INFORMATION* info) {
  const bool done = ::GetFileInformationByHandle(file, info);
#ifdef RALTO_TEST_HOOKS
  if (noFileIds > 1) info->nFileIndexHigh = info->nFileIndexLow = 0;
#endif
  return done;
}

// Units of a folder's identity in text: the volume serial's low 32 bits and a 128-bit ID in
// hex, a dash between, and the terminator (the 64-bit digest that may stand in fits too).
constexpr int IdentityUnits = 8 + 1 + 32 + 1;

// The identity of the folder open as directory, in text, for the mutex's name: the volume
// serial number and the file ID, which name one file on this computer whatever path reaches
// it (a junction, subst, a mapped drive, a share name or the local path); on a share only as
// far as its server reports stable IDs. Where the file system tells no ID, a digest of the
// folder's final path stands in, which knows the folder by that path alone. False when
// neither can be had.
bool FolderIdentity(::HANDLE directory, wchar_t (&identity)[IdentityUnits]) {
  const auto nonzero = [](const ::FILE_ID_128& id) {
    return std::any_of(std::begin(id.Identifier), std::end(id.Identifier),
                       [](BYTE unit) { return unit != 0; });
  };
  // 128 bits (ReFS needs them, Windows 8 and later); else the 64 of older systems, placed
  // where the 128-bit form of the same file system holds them.
  ::FILE_ID_INFO id{};
  bool known = QueryFileId(directory, &id) && nonzero(id.FileId);
  ::BY_HANDLE_FILE_INFORMATION info;
  if (!known && QueryFileIndex(directory, &info)) {
    const std::uint64_t index = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
    id = ::FILE_ID_INFO{info.dwVolumeSerialNumber, {}};
    std::memcpy(id.FileId.Identifier, &index, sizeof index);
    known = nonzero(id.FileId);
  }
  if (known) {
    // The 32 bits that both routes tell: FileIdInfo gives NTFS's whole 64-bit serial, the file
    // index route its low half, and one folder must get one name whichever answers.
    int at = std::swprintf(identity, IdentityUnits, L"%08x-",
                           static_cast<unsigned>(id.VolumeSerialNumber & 0xFFFFFFFFu));
    for (BYTE unit : id.FileId.Identifier) {
      at += std::swprintf(identity + at, IdentityUnits - at, L"%02x", unsigned{unit});
    }
    return true;
  }

  // The final path names the folder however it was reached (relative, in another letter case
  // as typed, through a junction or subst), but a share or a mapped drive by the server's.
  wchar_t path[32768];
  DWORD length = ::GetFinalPathNameByHandleW(directory, path, 32768, FILE_NAME_NORMALIZED);
  if (length == 0 || length >= 32768) return false;
  // A mutex name may hold no backslash and at most MAX_PATH characters: the path's digest
  // (FNV-1a, 64 bits, over the upper-cased units, as NTFS compares names) stands for it.
  ::CharUpperBuffW(path, length);
  std::uint64_t digest = 14695981039346656037ull;
  for (DWORD i = 0; i < length; ++i) {
    digest = (digest ^ static_cast<std::uint16_t>(path[i])) * 1099511628211ull;
  }
  return std::swprintf(identity, IdentityUnits, L"%016llx",
                       static_cast<unsigned long long>(digest)) > 0;
}

}  // namespace

FolderLockResult LockFolder(const char16_t* folder, HANDLE* lock) {
  *lock = nullptr;
  if (!folder) return FolderLockUnavailable;
  ::HANDLE directory = ::CreateFileW(reinterpret_cast<LPCWSTR>(folder), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (directory == INVALID_HANDLE_VALUE) return FolderLockUnavailable;
  wchar_t identity[IdentityUnits];
  const bool identified = FolderIdentity(directory, identity);
  ::CloseHandle(directory);
  if (!identified) return FolderLockUnavailable;

  // The mutex is the user's own: named with the user's SID, owned by it and open to it alone.
  // Anyone may create a name first; one that another user made, or that refuses us, is no lock
  // of ours, and the run goes on unlocked rather than waiting on someone else's object.
  wchar_t sid[SidTextUnits];
  if (!ProcessUserSid(sid)) return FolderLockUnavailable;
  wchar_t name[MAX_PATH];
  int named = std::swprintf(name, MAX_PATH, L"Global\\ralto-update-%ls-%ls", sid, identity);
  // Owner and sole entry: an elevated run would otherwise make Administrators the owner.
  wchar_t sddl[2 * MAX_PATH];
  int described =
      std::swprintf(sddl, sizeof sddl / sizeof sddl[0], L"O:%lsD:P(A;;GA;;;%ls)", sid, sid);
  if (named < 0 || described < 0) return FolderLockUnavailable;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
    return FolderLockUnavailable;
  }
  ::SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
  ::HANDLE mutex = ::CreateMutexW(&security, FALSE, name);
  const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
  ::LocalFree(descriptor);
  if (!mutex) return FolderLockUnavailable;
  if (existed && !OwnedBy(mutex, sid)) {
    ::CloseHandle(mutex);
    return FolderLockUnavailable;
  }
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

#ifdef RALTO_TEST_HOOKS
void NameFolderMutexOwner(const char16_t* owner) {
  namedOwner = owner;
}

void TellNoFileIds(int routes) {
  noFileIds = routes;
}
#endif

}  // namespace sys
