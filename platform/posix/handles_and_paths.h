// How the POSIX platform carries Windows values: a handle for a descriptor, UTF-8 bytes for a
// name, a file time for a moment of the Unix clock. For platform/posix only.
#pragma once
#include <climits>
#include <cstdint>

#include "platform/text_codec.h"
#include "platform/types.h"

namespace sys::posix {

// The descriptor plus one, so that descriptor 0 is not a null handle.
inline HANDLE HandleOf(int fd) {
  return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd) + 1);
}

// The descriptor a handle encodes; -1 for a value no descriptor gives, null among them.
inline int DescriptorIn(HANDLE handle) {
  const std::intptr_t value = reinterpret_cast<std::intptr_t>(handle) - 1;
  return value < 0 || value > INT_MAX ? -1 : static_cast<int>(value);
}

// A UTF-16 name as UTF-8 bytes in path; false when absent, empty or too long.
inline bool ToPath(const char16_t* name, char (&path)[PATH_MAX]) {
  if (!name || !name[0]) return false;
  return WideCharToMultiByte(CP_UTF8, 0, name, -1, path, PATH_MAX, nullptr, nullptr) > 0;
}

// Seconds and nanoseconds since 1970 as 100-nanosecond ticks since 1601; a moment before 1601
// is 1601 itself.
inline constexpr std::int64_t SecondsFrom1601To1970 = 11644473600;
inline FILETIME ToFileTime(std::int64_t seconds, std::uint32_t nanoseconds) {
  std::int64_t ticks = (seconds + SecondsFrom1601To1970) * 10000000 + nanoseconds / 100;
  if (ticks < 0) ticks = 0;
  const auto value = static_cast<std::uint64_t>(ticks);
  return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

}  // namespace sys::posix
