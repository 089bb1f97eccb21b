// Code-page conversions on Windows: the system's own, with its ANSI code page.
#include "platform/text_codec.h"

#include <windows.h>

namespace sys {

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* bytes, int byteCount,
                        char16_t* wide, int wideCount) {
  return ::MultiByteToWideChar(codePage, flags, bytes, byteCount, reinterpret_cast<LPWSTR>(wide),
                               wideCount);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, const char16_t* wide, int wideCount,
                        char* bytes, int byteCount, const char* defaultChar, BOOL* usedDefault) {
  return ::WideCharToMultiByte(codePage, flags, reinterpret_cast<LPCWSTR>(wide), wideCount, bytes,
                               byteCount, defaultChar, usedDefault);
}

}  // namespace sys
