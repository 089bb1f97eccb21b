// Winsock start-up and shutdown and the run-time loading of modules on Windows.
#include "platform/sockets.h"

#include <winsock2.h>

#include <windows.h>

namespace sys {

static_assert(sizeof(::WSADATA) <= sizeof(WSADATA));
static_assert(sizeof(SOCKET) == sizeof(::SOCKET));

int WSAStartup(WORD version, WSADATA* data) {
  return ::WSAStartup(version, reinterpret_cast<::WSADATA*>(data));
}

int WSACleanup() {
  return ::WSACleanup();
}

int closesocket(SOCKET s) {
  return ::closesocket(s);
}

HMODULE LoadLibraryW(const char16_t* name) {
  return reinterpret_cast<HMODULE>(::LoadLibraryW(reinterpret_cast<LPCWSTR>(name)));
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
  return reinterpret_cast<FARPROC>(::GetProcAddress(reinterpret_cast<::HMODULE>(module), name));
}

BOOL FreeLibrary(HMODULE module) {
  return ::FreeLibrary(reinterpret_cast<::HMODULE>(module));
}

}  // namespace sys
