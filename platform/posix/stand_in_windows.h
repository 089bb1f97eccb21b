// The stand-in top-level windows behind the window functions on POSIX. The program never
// adds one; tests do, to see what the message box does to the thread's other windows. The
// functions are in the tests' platform library only (RALTO_TEST_HOOKS).
#pragma once
#include <vector>

#include "platform/types.h"

namespace sys {

struct StandInWindow {
  DWORD threadId;
  DWORD processId;
  bool visible;
  bool enabled;
  bool topmost;
};

// One call that changed or showed a window, in the order the calls were made.
struct StandInCall {
  enum class Kind { EnableWindow, SetWindowPos, MessageBox };
  Kind kind;
  HWND window;       // the window changed; for MessageBox, the box's owner
  BOOL enable;       // EnableWindow only
  HWND insertAfter;  // SetWindowPos only
  UINT flags;        // SetWindowPos: its flags; MessageBox: the box's type
};

// Adds a window below those added before (EnumWindows reports them in that order).
HWND AddStandInWindow(const StandInWindow& window);
// Null: no window is in the foreground.
void SetStandInForeground(HWND window);
// The window's current state; null for a handle that is not in the table.
const StandInWindow* FindStandInWindow(HWND window);
// The calls made so far.
const std::vector<StandInCall>& StandInCalls();
// Removes every window, the foreground and the call log.
void ClearStandInWindows();

}  // namespace sys
