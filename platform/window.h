// Top-level windows, the modal message box, and the user-interface libraries' start-up.
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

int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type);
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
