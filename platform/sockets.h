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

// 0 on success, else an error code; on POSIX sockets need no start-up and it gives 0.
int WSAStartup(WORD version, WSADATA* data);
// WSACleanup and closesocket: 0 on success, -1 (SOCKET_ERROR) on failure.
int WSACleanup();
int closesocket(SOCKET s);
// Null when the module cannot be loaded; on POSIX only ws2_32.dll loads, as the C library.
[[nodiscard]] HMODULE LoadLibraryW(const char16_t* name);
// Null when the module has no function of that name.
FARPROC GetProcAddress(HMODULE module, const char* name);
// FALSE when the module cannot be released.
BOOL FreeLibrary(HMODULE module);

}  // namespace sys
