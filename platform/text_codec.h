// Conversions between UTF-16 and the byte code pages: UTF-8 and the ANSI code page
// (Windows-1252 where the system has none).
#pragma once
#include "platform/types.h"

namespace sys {

inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;

// Converts byteCount bytes (-1: up to and including the 0 byte) into at most wideCount units.
// wideCount 0 measures. Result: units written or needed; 0 on failure (also when the
// output is too small). Ill-formed UTF-8 becomes U+FFFD.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* bytes, int byteCount,
                        char16_t* wide, int wideCount);
// Converts wideCount units (-1: up to and including the 0 unit) into at most byteCount bytes.
// byteCount 0 measures. Result: bytes written or needed; 0 on failure. A character the
// ANSI code page lacks becomes '?'; a lone surrogate becomes U+FFFD in UTF-8.
int WideCharToMultiByte(UINT codePage, DWORD flags, const char16_t* wide, int wideCount,
                        char* bytes, int byteCount, const char* defaultChar, BOOL* usedDefault);

}  // namespace sys
