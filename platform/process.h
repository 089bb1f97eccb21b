// The process: its command line, threads and end.
#pragma once
#include "platform/types.h"

namespace sys {

using ThreadStart = DWORD (*)(void* parameter);

// The whole command line, program name first; valid for the life of the process. POSIX: the
// arguments handed over by TakeArguments, joined; the empty text before they are.
const char16_t* GetCommandLineW();
// Writes '*' over count units of the command line from unit offset on, every double quote
// kept, so that the line splits as before and other processes (ps, /proc/PID/cmdline, a
// reader of the Windows process's parameter block) no longer see what stood there. POSIX:
// every argument one of those units belongs to is overwritten whole, byte for byte, in the
// memory the arguments came in. Fails never: a range beyond the line is cut at its end.
void OverwriteCommandLine(std::int32_t offset, std::int32_t count);
#ifndef _WIN32
// The arguments main received (program name first). They are kept, not copied: they must
// live as long as the process, as main's do, and OverwriteCommandLine writes into them.
void TakeArguments(int argc, char** argv);
#endif
// Every thread's handle on POSIX: it owns nothing, and CloseHandle of it does nothing.
inline char threadHandleTag;
inline const HANDLE ThreadHandle = &threadHandleTag;

// Starts a thread running start(parameter). stackSize is the initial commit on Windows,
// never a limit. Null when no thread can be started; on POSIX the thread is detached and the
// result is ThreadHandle.
[[nodiscard]] HANDLE CreateThread(void* security, std::size_t stackSize, ThreadStart start,
                                  void* parameter, DWORD creationFlags, DWORD* threadId);
// Flushes standard output and error and ends the process.
[[noreturn]] void ExitProcess(UINT exitCode);
DWORD GetCurrentProcessId();
// Keeps the process's memory, and the password in it, out of core dumps and away from other
// users' debuggers. POSIX: not dumpable. Windows: no error boxes, and a crash that an
// exception filter can see ends the process at once, before Error Reporting could write a
// dump; a fail-fast crash (a corrupt heap, a broken stack cookie) bypasses every filter and
// still reaches it.
void ProtectProcessMemory();
// Makes a write past the file-size limit a failed write instead of the process's end (POSIX:
// SIGXFSZ ignored). Windows has no such limit: nothing to do there.
void ProtectProcessWrites();
DWORD GetCurrentThreadId();

}  // namespace sys
