// Top-level windows, the modal message box, a report line, and the user-interface libraries'
// start-up.
#pragma once
#include "platform/types.h"

namespace sys {

inline constexpr UINT MB_OK = 0x0;
inline constexpr int IDOK = 1;
inline constexpr int GWL_EXSTYLE = -20;
inline constexpr LONG WS_EX_TOPMOST = 0x8;
inline constexpr UINT SWP_NOSIZE = 0x1;
inline constexpr UINT SWP_NOMOVE = 0x2;
inline const HWND HWND_TOPMOST = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));
inline const HWND HWND_NOTOPMOST = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-2));

using WNDENUMPROC = BOOL (*)(HWND window, LPARAM parameter);

struct INITCOMMONCONTROLSEX {
  DWORD dwSize;
  DWORD dwICC;
};

// The button that closed the box (IDOK); 0 when it could not be shown (on POSIX: not written
// whole to standard error).
int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type);
// POSIX: writes line (its first 511 bytes) and a line end to standard error, beside the boxes,
// in one write; lost when it cannot be written. Windows: nothing; the program has no console to show it.
void ReportLine(const char* line);
// The calls below give 0, FALSE or null for a handle that names no window (EnableWindow: FALSE,
// as for a window that was enabled), EnumWindows FALSE without a callback, GetForegroundWindow
// null when no window is in the foreground, InitCommonControlsEx FALSE and CoInitialize a
// negative HRESULT when they fail.
BOOL EnumWindows(WNDENUMPROC callback, LPARAM parameter);
HWND GetForegroundWindow();
DWORD GetWindowThreadProcessId(HWND window, DWORD* processId);
BOOL IsWindowVisible(HWND window);
BOOL IsWindowEnabled(HWND window);
BOOL EnableWindow(HWND window, BOOL enable);
LONG GetWindowLongW(HWND window, int index);
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls);
HRESULT CoInitialize(void* reserved);

}  // namespace sys
