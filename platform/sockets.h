// Socket start-up and shutdown and the run-time loading of the resolver functions.
#pragma once
#include "platform/types.h"

namespace sys {

using SOCKET = std::uintptr_t;
using FARPROC = void (*)();

// Opaque room for what WSAStartup fills in; its contents are never read.
struct WSADATA {
  alignas(8) unsigned char bytes[512];
};

int WSAStartup(WORD version, WSADATA* data);
int WSACleanup();
int closesocket(SOCKET s);
[[nodiscard]] HMODULE LoadLibraryW(const char16_t* name);
FARPROC GetProcAddress(HMODULE module, const char* name);
BOOL FreeLibrary(HMODULE module);

}  // namespace sys
