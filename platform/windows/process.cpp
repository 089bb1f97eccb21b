// The process on Windows: its own command line, threads, ids and end.
#include "platform/process.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace sys {

const char16_t* GetCommandLineW() {
  return reinterpret_cast<const char16_t*>(::GetCommandLineW());
}

void OverwriteCommandLine(std::int32_t offset, std::int32_t count) {
  // The buffer is the one in the process's parameter block, which is what other processes
  // read the command line from.
  wchar_t* line = ::GetCommandLineW();
  if (offset < 0 || count <= 0 || static_cast<std::size_t>(offset) > std::wcslen(line)) return;
  for (wchar_t* unit = line + offset; unit < line + offset + count && *unit; ++unit) {
    if (*unit != L'"') *unit = L'*';
  }
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

namespace {

// Ends the process at once, with the exception's code as its exit code, as the system would:
// Error Reporting, which may write the process's memory to a dump, never hears of the crash.
LONG WINAPI EndWithoutReport(EXCEPTION_POINTERS* exception) {
  ::TerminateProcess(::GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void ProtectProcessMemory() {
  // No dialog and no Error Reporting for a fault, no "insert a disk" box for a missing drive:
  // a scheduled run must never wait for a click, nor leave a dump with the password in it.
  ::SetErrorMode(::GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX |
                 SEM_NOOPENFILEERRORBOX);
  ::SetUnhandledExceptionFilter(EndWithoutReport);
}

void ProtectProcessWrites() {}

}  // namespace sys
