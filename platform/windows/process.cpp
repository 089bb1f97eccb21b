// The process on Windows: its own command line, threads, ids and end.
#include "platform/process.h"

#include <windows.h>

#include <cstdio>

namespace sys {

const char16_t* GetCommandLineW() {
  return reinterpret_cast<const char16_t*>(::GetCommandLineW());
}

HANDLE CreateThread(void* security, std::size_t stackSize, ThreadStart start, void* parameter,
                    DWORD creationFlags, DWORD* threadId) {
  // On x64 there is one calling convention, so the start routine's type is the system's.
  return ::CreateThread(static_cast<LPSECURITY_ATTRIBUTES>(security), stackSize,
                        reinterpret_cast<LPTHREAD_START_ROUTINE>(start), parameter, creationFlags,
                        threadId);
}

void ExitProcess(UINT exitCode) {
  std::fflush(nullptr);
  ::ExitProcess(exitCode);
}

DWORD GetCurrentProcessId() {
  return ::GetCurrentProcessId();
}

DWORD GetCurrentThreadId() {
  return ::GetCurrentThreadId();
}

void ProtectProcessMemory() {}

void ProtectProcessWrites() {}

}  // namespace sys
