// The modal message box and the treatment of the thread's other windows around it.
#pragma once
#include <cstdint>

#include "platform/types.h"
#include "runtime/strings/object_table.h"

namespace ralto {

// The id of the button that closed the box; 0 when it could not be shown.
std::int32_t ShowMessage(const char16_t* title, const char16_t* text, std::uint32_t type = 0);
// Registers the common-control classes and starts COM; the result of the latter.
std::int32_t StartUserInterface();

// A window of the thread that shows the box, as it was before the box.
struct WindowRestoreRecord {
  std::uint32_t threadId;
  sys::HWND window;
  std::uint8_t wasTopmost;
  std::uint8_t disabledByUs;
};

// Copies the records of every thread that is showing a box now, newest first, up to capacity of
// them, into records, all in one moment; the number of records there are, which may exceed
// capacity (then only the newest are copied).
std::int32_t SnapshotWindowRestoreList(WindowRestoreRecord* records, std::int32_t capacity);

// The foreground window when it belongs to this process; null otherwise.
sys::HWND ProcessForegroundWindow();
// begin 1: records the thread's visible windows, disables and demotes them; begin 0: puts
// back what begin 1 changed and drops the thread's records. A window whose record cannot
// be allocated is left as it is.
void PrepareModalWindows(std::int32_t begin);
// The EnumWindows callback of PrepareModalWindows(1); always 1, so the walk goes on.
sys::BOOL RecordThreadWindow(sys::HWND window, sys::LPARAM parameter);

}  // namespace ralto
