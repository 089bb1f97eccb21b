// Sockets on POSIX: they need no start-up, and the Winsock 2 module is the C library, whose
// resolver functions are found with dlsym.
#include "platform/sockets.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>

namespace sys {
namespace {

constexpr char16_t ResolverModuleName[] = u"ws2_32.dll";

// Module names are compared as Windows does, without regard to letter case.
bool IsResolverModule(const char16_t* name) {
  std::size_t i = 0;
  for (; ResolverModuleName[i] != 0; ++i) {
    char16_t c = name[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != ResolverModuleName[i]) return false;
  }
  return name[i] == 0;
}

}  // namespace

int WSAStartup(WORD, WSADATA* data) {
  if (data) std::memset(data->bytes, 0, sizeof data->bytes);
  return 0;
}

int WSACleanup() {
  return 0;
}

int closesocket(SOCKET s) {
  return close(static_cast<int>(s)) == 0 ? 0 : -1;
}

HMODULE LoadLibraryW(const char16_t* name) {
  if (!name || !IsResolverModule(name)) return nullptr;
  return static_cast<HMODULE>(dlopen(nullptr, RTLD_NOW));
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
  if (!module || !name) return nullptr;
  // A data pointer from dlsym is a function address on every POSIX system.
  return reinterpret_cast<FARPROC>(dlsym(module, name));
}

BOOL FreeLibrary(HMODULE module) {
  if (!module) return FALSE;
  return dlclose(module) == 0 ? TRUE : FALSE;
}

}  // namespace sys
