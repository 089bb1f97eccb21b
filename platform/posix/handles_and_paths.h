// How the POSIX platform carries Windows values: a handle for a descriptor, UTF-8 bytes for a
// name. For platform/posix only.
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

}  // namespace sys::posix
