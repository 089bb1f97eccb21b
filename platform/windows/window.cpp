// Top-level windows, the message box and the user-interface libraries on Windows.
#include "platform/window.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

namespace sys {
namespace {

::HWND ToWindows(HWND window) {
  return reinterpret_cast<::HWND>(window);
}

HWND FromWindows(::HWND window) {
  return reinterpret_cast<HWND>(window);
}

// The caller's callback and parameter, carried through the system's enumeration.
struct Enumeration {
  WNDENUMPROC callback;
  LPARAM parameter;
};

BOOL CALLBACK EnumerateOne(::HWND window, ::LPARAM enumeration) {
  auto* walk = reinterpret_cast<Enumeration*>(enumeration);
  return walk->callback(FromWindows(window), walk->parameter);
}

}  // namespace

static_assert(sizeof(INITCOMMONCONTROLSEX) == sizeof(::INITCOMMONCONTROLSEX));

void ReportLine(const char*) {}

int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type) {
  return ::MessageBoxW(ToWindows(owner), reinterpret_cast<LPCWSTR>(text),
                       reinterpret_cast<LPCWSTR>(caption), type);
}

BOOL EnumWindows(WNDENUMPROC callback, LPARAM parameter) {
  if (!callback) return 0;
  Enumeration walk{callback, parameter};
  return ::EnumWindows(EnumerateOne, reinterpret_cast<::LPARAM>(&walk));
}

HWND GetForegroundWindow() {
  return FromWindows(::GetForegroundWindow());
}

DWORD GetWindowThreadProcessId(HWND window, DWORD* processId) {
  return ::GetWindowThreadProcessId(ToWindows(window), processId);
}

BOOL IsWindowVisible(HWND window) {
  return ::IsWindowVisible(ToWindows(window));
}

BOOL IsWindowEnabled(HWND window) {
  return ::IsWindowEnabled(ToWindows(window));
}

BOOL EnableWindow(HWND window, BOOL enable) {
  return ::EnableWindow(ToWindows(window), enable);
}

LONG GetWindowLongW(HWND window, int index) {
  return ::GetWindowLongW(ToWindows(window), index);
}

BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  return ::SetWindowPos(ToWindows(window), ToWindows(insertAfter), x, y, cx, cy, flags);
}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls) {
  return ::InitCommonControlsEx(reinterpret_cast<const ::INITCOMMONCONTROLSEX*>(controls));
}

HRESULT CoInitialize(void* reserved) {
  return ::CoInitialize(reserved);
}

}  // namespace sys
