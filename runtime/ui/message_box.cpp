// The modal message box: the thread's other windows are disabled and lose their topmost
// state while it is up, and get both back afterwards.
#include "runtime/ui/message_box.h"

#include <mutex>

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

// Records of every thread that is showing a box, newest first, in the general heap. Every
// thread that shows a box inserts, walks and unlinks here: the links are read and written only
// under windowRestoreLock, and a record is filled under it when inserted. A thread reads its
// own records without it, as only that thread unlinks them. The lock is never held across
// EnableWindow, SetWindowPos or MessageBoxW: they send messages to the thread's own windows,
// whose handlers may show a box and come back here.
ListNode* windowRestoreList = nullptr;
std::mutex windowRestoreLock;

// This thread's first record from node on (towards older ones), or null. Under the lock.
ListNode* OwnRecordFrom(ListNode* node, sys::DWORD threadId) {
  while (node && RecordOf(node)->threadId != threadId) node = node->older;
  return node;
}

}  // namespace

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
  const bool topmost = (sys::GetWindowLongW(window, sys::GWL_EXSTYLE) & sys::WS_EX_TOPMOST) != 0;
  // The foreground window is the box's owner when it is ours; disabling it would leave the
  // box without an active owner.
  const bool disable = window != sys::GetForegroundWindow() && sys::IsWindowEnabled(window);
  {
    std::lock_guard<std::mutex> guard(windowRestoreLock);
    auto* record =
        static_cast<WindowRestoreRecord*>(ListInsert(&windowRestoreList, RecordNodeSize));
    // Without a record nothing could put the window back, so it is not touched at all.
    if (!record) return 1;
    record->threadId = threadId;
    record->window = window;
    record->wasTopmost = topmost ? 1 : 0;
    record->disabledByUs = disable ? 1 : 0;
  }
  if (disable) sys::EnableWindow(window, sys::FALSE);
  return 1;
}

void PrepareModalWindows(std::int32_t begin) {
  sys::DWORD threadId = sys::GetCurrentThreadId();
  if (begin) {
    sys::EnumWindows(RecordThreadWindow, 1);
    // Only this thread unlinks its records, so the one in hand stays while the lock is off.
    std::unique_lock<std::mutex> guard(windowRestoreLock);
    for (ListNode* node = OwnRecordFrom(windowRestoreList, threadId); node;
         node = OwnRecordFrom(node->older, threadId)) {
      const WindowRestoreRecord* record = RecordOf(node);
      if (!record->wasTopmost) continue;
      guard.unlock();
      sys::SetWindowPos(record->window, sys::HWND_NOTOPMOST, 0, 0, 0, 0, KeepSizeAndPlace);
      guard.lock();
    }
    return;
  }
  // Each record leaves the list before its window is put back.
  for (;;) {
    WindowRestoreRecord record;
    {
      std::lock_guard<std::mutex> guard(windowRestoreLock);
      ListNode* node = OwnRecordFrom(windowRestoreList, threadId);
      if (!node) return;
      record = *RecordOf(node);
      ListUnlink(&windowRestoreList, RecordOf(node));
    }
    if (record.disabledByUs) sys::EnableWindow(record.window, sys::TRUE);
    if (record.wasTopmost) {
      sys::SetWindowPos(record.window, sys::HWND_TOPMOST, 0, 0, 0, 0, KeepSizeAndPlace);
    }
  }
}

std::int32_t SnapshotWindowRestoreList(WindowRestoreRecord* records, std::int32_t capacity) {
  std::lock_guard<std::mutex> guard(windowRestoreLock);
  std::int32_t count = 0;
  for (ListNode* node = windowRestoreList; node; node = node->older, ++count) {
    if (count < capacity) records[count] = *RecordOf(node);
  }
  return count;
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
