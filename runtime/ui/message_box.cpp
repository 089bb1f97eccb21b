// The modal message box: the thread's other windows are disabled and lose their topmost
// state while it is up, and get both back afterwards.
#include "runtime/ui/message_box.h"

#include "platform/process.h"
#include "platform/window.h"

namespace ralto {
namespace {

constexpr sys::UINT KeepSizeAndPlace = sys::SWP_NOSIZE | sys::SWP_NOMOVE;

constexpr auto RecordNodeSize =
    static_cast<std::int32_t>(ListLinksSize + sizeof(WindowRestoreRecord));

constexpr sys::DWORD CommonControlClasses = 0x0B48;  // tab, hot key, date, combo-ex, IP address

WindowRestoreRecord* RecordOf(ListNode* node) {
  return reinterpret_cast<WindowRestoreRecord*>(node + 1);
}

}  // namespace

ListNode* windowRestoreList = nullptr;

sys::HWND ProcessForegroundWindow() {
  sys::HWND window = sys::GetForegroundWindow();
  if (!window) return nullptr;
  sys::DWORD processId = 0;
  sys::GetWindowThreadProcessId(window, &processId);
  return processId == sys::GetCurrentProcessId() ? window : nullptr;
}

sys::BOOL RecordThreadWindow(sys::HWND window, sys::LPARAM) {
  sys::DWORD threadId = sys::GetCurrentThreadId();
  if (sys::GetWindowThreadProcessId(window, nullptr) != threadId) return 1;
  if (!sys::IsWindowVisible(window)) return 1;
  auto* record = static_cast<WindowRestoreRecord*>(ListInsert(&windowRestoreList, RecordNodeSize));
  // Without a record nothing could put the window back, so it is not touched at all.
  if (!record) return 1;
  record->threadId = threadId;
  record->window = window;
  if (sys::GetWindowLongW(window, sys::GWL_EXSTYLE) & sys::WS_EX_TOPMOST) record->wasTopmost = 1;
  // The foreground window is the box's owner when it is ours; disabling it would leave the
  // box without an active owner.
  if (window != sys::GetForegroundWindow() && sys::IsWindowEnabled(window)) {
    record->disabledByUs = 1;
    sys::EnableWindow(window, sys::FALSE);
  }
  return 1;
}

void PrepareModalWindows(std::int32_t begin) {
  sys::DWORD threadId = sys::GetCurrentThreadId();
  if (begin) {
    sys::EnumWindows(RecordThreadWindow, 1);
    for (ListNode* node = windowRestoreList; node; node = node->older) {
      WindowRestoreRecord* record = RecordOf(node);
      if (record->threadId == threadId && record->wasTopmost) {
        sys::SetWindowPos(record->window, sys::HWND_NOTOPMOST, 0, 0, 0, 0, KeepSizeAndPlace);
      }
    }
    return;
  }
  for (ListNode* node = windowRestoreList; node;) {
    ListNode* older = node->older;
    WindowRestoreRecord* record = RecordOf(node);
    if (record->threadId == threadId) {
      if (record->disabledByUs) sys::EnableWindow(record->window, sys::TRUE);
      if (record->wasTopmost) {
        sys::SetWindowPos(record->window, sys::HWND_TOPMOST, 0, 0, 0, 0, KeepSizeAndPlace);
      }
      ListUnlink(&windowRestoreList, record);
    }
    node = older;
  }
}

std::int32_t ShowMessage(const char16_t* title, const char16_t* text, std::uint32_t type) {
  // The owner is chosen before any window is disabled.
  sys::HWND owner = ProcessForegroundWindow();
  PrepareModalWindows(1);
  std::int32_t result = sys::MessageBoxW(owner, text, title, type);
  PrepareModalWindows(0);
  return result;
}

std::int32_t StartUserInterface() {
  sys::INITCOMMONCONTROLSEX controls{sizeof(sys::INITCOMMONCONTROLSEX), CommonControlClasses};
  sys::InitCommonControlsEx(&controls);
  return sys::CoInitialize(nullptr);
}

}  // namespace ralto
