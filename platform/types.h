// The Windows types and constants the runtime's system calls are spelled with.
// In the Windows build every file reads <windows.h> before this header: the compiler puts
// platform/windows/windows_first.h first, and it drops the macros that would rewrite these names.
#pragma once
#include <cstddef>
#include <cstdint>

namespace sys {

#ifdef _WIN32
using DWORD = unsigned long;
using LONG = long;
#else
using DWORD = std::uint32_t;
using LONG = std::int32_t;
#endif
using BOOL = int;
using UINT = unsigned int;
using WORD = std::uint16_t;
using HANDLE = void*;
using HWND = struct WindowTag*;
using HMODULE = struct ModuleTag*;
using LPARAM = std::intptr_t;
using HRESULT = LONG;

inline constexpr BOOL FALSE = 0;
inline constexpr BOOL TRUE = 1;
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

// A moment as 100-nanosecond intervals since 1601-01-01 00:00 UTC.
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

}  // namespace sys
