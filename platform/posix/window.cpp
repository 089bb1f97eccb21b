// The window functions on POSIX: the message box goes to standard error, and the top-level
// windows are stand-ins that only tests create (the program has no way to).
#include "platform/window.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "platform/posix/robust_io.h"
#include "platform/posix/stand_in_windows.h"
#include "platform/text_codec.h"

namespace sys {
namespace {

#ifdef RALTO_TEST_HOOKS
std::vector<StandInWindow> windows;
std::vector<StandInCall> calls;
HWND foreground = nullptr;
#else
// Nothing in the program can add a window.
constexpr std::span<StandInWindow> windows;
constexpr HWND foreground = nullptr;
#endif

// Handles are 1-based positions in the table, so that null is never a window.
HWND HandleAt(std::size_t index) {
  return reinterpret_cast<HWND>(static_cast<std::intptr_t>(index + 1));
}

StandInWindow* Find(HWND window) {
  auto position = reinterpret_cast<std::intptr_t>(window);
  if (position < 1 || static_cast<std::size_t>(position) > windows.size()) return nullptr;
  return &windows[static_cast<std::size_t>(position) - 1];
}

// The log serves tests only: the program's platform keeps none.
void Log([[maybe_unused]] const StandInCall& call) {
#ifdef RALTO_TEST_HOOKS
  // Running out of memory for it must not change a result.
  try {
    calls.push_back(call);
  } catch (const std::bad_alloc&) {
  }
#endif
}

// C0, DEL and C1: anything a terminal may take as part of a command. Also the marks,
// embeddings, overrides and isolates that turn the direction of what follows, and the line and
// paragraph separators: with them an answer could read as something other than it says.
bool IsControl(char16_t unit) {
  return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || unit == 0x061C ||
         (unit >= 0x200E && unit <= 0x200F) || (unit >= 0x2028 && unit <= 0x202E) ||
         (unit >= 0x2066 && unit <= 0x2069);
}

// A caption is one line, so even a line feed in it is shown as '?'.
void AppendCaption(std::u16string& box, const char16_t* caption) {
  for (const char16_t* p = caption; p && *p; ++p) box += IsControl(*p) ? u'?' : *p;
}

void AppendText(std::u16string& box, const char16_t* text) {
  for (const char16_t* p = text; p && *p; ++p) {
    if (*p == u'\r' && p[1] == u'\n') ++p;
    box += (*p == u'\n' || !IsControl(*p)) ? *p : u'?';
  }
}

// Standard error may be a pipe whose reader has gone (a scheduler's log, "| head"): the box
// then fails with EPIPE instead of ending the process with SIGPIPE. The signal is blocked for
// the write, and one the write raised is taken back before the mask is restored.
bool WriteWithoutSigpipe(int fd, const char* bytes, std::size_t count) {
  sigset_t pipeSignal;
  sigset_t previous;
  sigset_t pending;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  sigpending(&pending);
  const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
  std::size_t sent = 0;
  bool written = posix::WriteAll(fd, bytes, count, &sent);
  if (!written && errno == EPIPE && !wasPending) {
    const timespec noWait{0, 0};
    while (sigtimedwait(&pipeSignal, nullptr, &noWait) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return written;
}

}  // namespace

int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type) {
  Log({StandInCall::Kind::MessageBox, owner, FALSE, nullptr, type});
  try {
    std::u16string box;
    AppendCaption(box, caption);
    box += u'\n';
    AppendText(box, text);
    box += u"\n\n";
    int length = static_cast<int>(box.size());
    int size = WideCharToMultiByte(CP_UTF8, 0, box.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return 0;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, box.data(), length, bytes.data(), size, nullptr, nullptr) !=
        size) {
      return 0;
    }
    // The whole box in one write, so that it is never interleaved with other output.
    return WriteWithoutSigpipe(STDERR_FILENO, bytes.data(), bytes.size()) ? IDOK : 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

void ReportLine(const char* line) {
  char bytes[512];
  std::size_t length = 0;
  while (line && line[length] && length < sizeof bytes - 1) {
    bytes[length] = line[length];
    ++length;
  }
  bytes[length++] = '\n';
  WriteWithoutSigpipe(STDERR_FILENO, bytes, length);
}

BOOL EnumWindows(WNDENUMPROC callback, LPARAM parameter) {
  if (!callback) return FALSE;
  // By position, so that a callback adding a window cannot invalidate the walk.
  for (std::size_t i = 0; i < windows.size(); ++i) {
    if (!callback(HandleAt(i), parameter)) break;
  }
  return TRUE;
}

HWND GetForegroundWindow() {
  return foreground;
}

DWORD GetWindowThreadProcessId(HWND window, DWORD* processId) {
  const StandInWindow* found = Find(window);
  if (processId) *processId = found ? found->processId : 0;
  return found ? found->threadId : 0;
}

BOOL IsWindowVisible(HWND window) {
  const StandInWindow* found = Find(window);
  return found && found->visible;
}

BOOL IsWindowEnabled(HWND window) {
  const StandInWindow* found = Find(window);
  return found && found->enabled;
}

BOOL EnableWindow(HWND window, BOOL enable) {
  Log({StandInCall::Kind::EnableWindow, window, enable, nullptr, 0});
  StandInWindow* found = Find(window);
  if (!found) return FALSE;
  // As on Windows: whether the window was disabled before the call.
  BOOL wasDisabled = !found->enabled;
  found->enabled = enable != FALSE;
  return wasDisabled;
}

LONG GetWindowLongW(HWND window, int index) {
  const StandInWindow* found = Find(window);
  if (!found || index != GWL_EXSTYLE) return 0;
  return found->topmost ? WS_EX_TOPMOST : 0;
}

BOOL SetWindowPos(HWND window, HWND insertAfter, int, int, int, int, UINT flags) {
  Log({StandInCall::Kind::SetWindowPos, window, FALSE, insertAfter, flags});
  StandInWindow* found = Find(window);
  if (!found) return FALSE;
  if (insertAfter == HWND_TOPMOST) found->topmost = true;
  if (insertAfter == HWND_NOTOPMOST) found->topmost = false;
  return TRUE;
}

// Neither the control classes nor COM exist here; the start-up has nothing to do.
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX*) {
  return TRUE;
}

HRESULT CoInitialize(void*) {
  return 0;
}

#ifdef RALTO_TEST_HOOKS
HWND AddStandInWindow(const StandInWindow& window) {
  windows.push_back(window);
  return HandleAt(windows.size() - 1);
}

void SetStandInForeground(HWND window) {
  foreground = window;
}

const StandInWindow* FindStandInWindow(HWND window) {
  return Find(window);
}

const std::vector<StandInCall>& StandInCalls() {
  return calls;
}

void ClearStandInWindows() {
  windows.clear();
  calls.clear();
  foreground = nullptr;
}
#endif

}  // namespace sys
