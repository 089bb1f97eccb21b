// Temporary files beside a working file: their names, their creation, their landing in the
// file's place, and the clearing of leftovers.
#include "runtime/files/temporary_file.h"

#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/process.h"
#include "runtime/files/file_system.h"
#include "runtime/files/held_file.h"
#include "runtime/strings/string_ops.h"

namespace ralto {
namespace {

constexpr char16_t TemporaryInfix[] = u".tmp-";
constexpr std::int32_t TemporaryInfixUnits = 5;
// Any temporary in the current folder; the names are told apart afterwards.
constexpr char16_t LeftoverPattern[] = u"*.tmp-??????";
constexpr int SuffixUnits = 6;
// Names taken by someone else are skipped; this many in a row mean the folder is hostile.
constexpr int CreateAttempts = 64;

// Appends text to buffer at *length; false when it does not fit with its terminator.
bool Append(char16_t (&buffer)[TemporaryNameUnits], int* length, const char16_t* text) {
  for (; *text; ++text) {
    if (*length + 1 >= TemporaryNameUnits) return false;
    buffer[(*length)++] = *text;
  }
  buffer[*length] = 0;
  return true;
}

// A suffix for the attempt: the process, the moment and the attempt's number mixed (SplitMix64).
// Names need not be secret: a name someone planted, or one this process took a moment ago, is
// an existing file to CREATE_NEW, and the next attempt tries another.
void NextSuffix(int attempt, char16_t (&suffix)[SuffixUnits + 1]) {
  static constexpr char16_t Alphabet[] =
      u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  sys::SYSTEMTIME now;
  sys::GetLocalTime(&now);
  std::uint64_t x = (std::uint64_t{sys::GetCurrentProcessId()} << 32) ^
                    (std::uint64_t{now.wSecond} * 1000 + now.wMilliseconds) ^
                    ((attempt + 1ull) * 0x9E3779B97F4A7C15ull);
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  x ^= x >> 31;
  for (int i = 0; i < SuffixUnits; ++i, x /= 62) suffix[i] = Alphabet[x % 62];
  suffix[SuffixUnits] = 0;
}

}  // namespace

sys::HANDLE CreateTemporaryBeside(const char16_t* file, void* security,
                                  char16_t (&name)[TemporaryNameUnits]) {
  int stem = 0;
  if (!file || sys::KeepsItsName(sys::GetFileAttributesW(file)) || !Append(name, &stem, file) ||
      !Append(name, &stem, TemporaryInfix)) {
    return sys::INVALID_HANDLE_VALUE;
  }
  for (int attempt = 0; attempt < CreateAttempts; ++attempt) {
    char16_t suffix[SuffixUnits + 1];
    NextSuffix(attempt, suffix);
    int length = stem;
    if (!Append(name, &length, suffix)) return sys::INVALID_HANDLE_VALUE;
    sys::HANDLE handle = OpenFileWaiting(name, sys::GENERIC_READ | sys::GENERIC_WRITE,
                                         sys::FILE_SHARE_READ, security, sys::CREATE_NEW);
    if (handle != sys::INVALID_HANDLE_VALUE) return handle;
    // Only a name that is taken is worth another try; anything else fails the same way.
    if (sys::GetFileAttributesW(name) == sys::INVALID_FILE_ATTRIBUTES) break;
  }
  return sys::INVALID_HANDLE_VALUE;
}

std::int32_t ReplaceWithTemporary(const char16_t* temporary, const char16_t* file, bool durable) {
  if (!temporary || !file) return 0;
  sys::DWORD flags = sys::MOVEFILE_REPLACE_EXISTING | (durable ? sys::MOVEFILE_WRITE_THROUGH : 0);
  if (MoveFileWaiting(temporary, file, flags)) return 1;
  RemoveTemporary(temporary);
  return 0;
}

std::int32_t RemoveTemporary(const char16_t* temporary) {
  return DeleteFileWaiting(temporary, false) ? 1 : 0;
}

void ClearLeftoverTemporaries(std::span<const char16_t* const> files) {
  // One listing of the folder for all the names: this runs on every scheduled tick.
  sys::WIN32_FIND_DATAW found;
  sys::HANDLE search = sys::FindFirstFileW(LeftoverPattern, &found);
  if (search == sys::INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes & sys::FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::int32_t length = TextLength(found.cFileName);
    for (const char16_t* file : files) {
      // The name, the infix and exactly six more units.
      if (!file) continue;
      const std::int32_t stem = TextLength(file);
      if (length != stem + TemporaryInfixUnits + SuffixUnits) continue;
      bool matches = true;
      for (std::int32_t i = 0; matches && i < stem + TemporaryInfixUnits; ++i) {
        matches = found.cFileName[i] == (i < stem ? file[i] : TemporaryInfix[i - stem]);
      }
      if (matches) {
        RemoveFile(found.cFileName, RemoveClearReadOnly);
        break;
      }
    }
  } while (sys::FindNextFileW(search, &found));
  sys::FindClose(search);
}

}  // namespace ralto
