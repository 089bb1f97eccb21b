// The message box with real top-level windows: which of the thread's windows it disables and
// demotes while it is up, seen from a timer that runs inside the box, and what it puts back;
// also with two threads' boxes up at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/heap.h"
#include "platform/window.h"
#include "runtime/strings/heaps.h"
#include "runtime/strings/string_area.h"
#include "runtime/ui/message_box.h"

namespace {

constexpr wchar_t WindowClass[] = L"RaltoTestWindow";
constexpr wchar_t BoxClass[] = L"#32770";
constexpr UINT_PTR TickMilliseconds = 50;
constexpr int TicksBeforeGivingUp = 200;

bool IsTopmost(HWND window) {
  return (GetWindowLongW(window, sys::GWL_EXSTYLE) & sys::WS_EX_TOPMOST) != 0;
}

// What one window looked like at one moment.
struct WindowState {
  bool enabled;
  bool topmost;
  bool operator==(const WindowState&) const = default;
};

WindowState StateOf(HWND window) {
  return {IsWindowEnabled(window) != 0, IsTopmost(window)};
}

HWND CreateTopLevel(bool visible, bool topmost, int x) {
  HWND window = CreateWindowExW(topmost ? static_cast<DWORD>(sys::WS_EX_TOPMOST) : 0u, WindowClass,
                                L"window", WS_OVERLAPPEDWINDOW, x, 40, 120, 80, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  if (window && visible) ShowWindow(window, SW_SHOWNOACTIVATE);
  return window;
}

// A restore record as the tests compare it.
struct Record {
  HWND window;
  bool wasTopmost;
  bool disabledByUs;
  bool operator==(const Record&) const = default;
};

std::vector<Record> ByWindow(std::vector<Record> records) {
  std::sort(records.begin(), records.end(),
            [](const Record& a, const Record& b) { return a.window < b.window; });
  return records;
}

// Filled by the timer while the box is up.
struct BoxView {
  HWND box = nullptr;
  HWND owner = nullptr;
  std::vector<WindowState> states;
  std::vector<Record> records;  // in list order, newest first
  bool looked = false;
};

// Each thread that shows a box watches its own windows.
thread_local std::vector<HWND> watched;
thread_local BoxView seen;
thread_local int ticks = 0;
// Boxes that must be up together before any is looked at, and looked at before any closes
// (closing puts windows back and changes the list the others read).
int boxesTogether = 1;
std::atomic<int> boxesUp{0};
std::atomic<int> boxesSeen{0};
// When set, the thread's box stays up until it holds.
thread_local const std::atomic<bool>* closeAfter = nullptr;

BOOL CALLBACK FindBox(HWND window, LPARAM found) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (std::wstring(name) != BoxClass || !IsWindowVisible(window)) return 1;
  *reinterpret_cast<HWND*>(found) = window;
  return 0;
}

// Runs inside the box's message loop: looks once the box is there (and the others' with it),
// then presses Return in it.
void CALLBACK Inspect(HWND, UINT, UINT_PTR timer, DWORD) {
  const bool late = ++ticks > TicksBeforeGivingUp;
  if (!seen.box) {
    EnumThreadWindows(GetCurrentThreadId(), FindBox, reinterpret_cast<LPARAM>(&seen.box));
    if (!seen.box) {
      if (late) KillTimer(nullptr, timer);
      return;
    }
    ++boxesUp;
  }
  if (!seen.looked) {
    if (boxesUp < boxesTogether && !late) return;
    seen.owner = GetWindow(seen.box, GW_OWNER);
    for (HWND window : watched) seen.states.push_back(StateOf(window));
    ralto::WindowRestoreRecord records[8];
    const std::int32_t count = std::min(ralto::SnapshotWindowRestoreList(records, 8), 8);
    for (std::int32_t i = 0; i < count; ++i) {
      seen.records.push_back({reinterpret_cast<HWND>(records[i].window), records[i].wasTopmost != 0,
                              records[i].disabledByUs != 0});
    }
    seen.looked = true;
    ++boxesSeen;
  }
  if ((boxesSeen < boxesTogether || (closeAfter && !*closeAfter)) && !late) return;
  KillTimer(nullptr, timer);
  PostMessageW(seen.box, WM_KEYDOWN, VK_RETURN, 0x001C0001);
  PostMessageW(seen.box, WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC01C0001));
}

class MessageBoxWindowsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = WindowClass;
    RegisterClassW(&windowClass);
  }
  void SetUp() override {
    ralto::generalHeap = sys::HeapCreate(0, 4096, 0);
    ralto::StartStringArea();
    watched.clear();
    seen = BoxView{};
    ticks = 0;
    closeAfter = nullptr;
    boxesTogether = 1;
    boxesUp = 0;
    boxesSeen = 0;
  }
  void TearDown() override {
    for (HWND window : watched) DestroyWindow(window);
    ralto::StopStringArea();
    sys::HeapDestroy(ralto::generalHeap);
    ralto::generalHeap = nullptr;
  }

  // Shows the box with a timer watching it; the box's result.
  static std::int32_t ShowWatched() {
    SetTimer(nullptr, 0, TickMilliseconds, Inspect);
    return ralto::ShowMessage(u"Titel:", u"Text");
  }
};

TEST_F(MessageBoxWindowsTest, WithoutWindowsTheBoxHasNoOwnerAndNothingIsRecorded) {
  EXPECT_EQ(ShowWatched(), sys::IDOK);
  ASSERT_NE(seen.box, nullptr) << "the box never showed";
  EXPECT_EQ(seen.owner, nullptr);
  EXPECT_TRUE(seen.records.empty());
  EXPECT_EQ(ralto::SnapshotWindowRestoreList(nullptr, 0), 0);
}

TEST_F(MessageBoxWindowsTest, OnlyTheThreadsVisibleWindowsAreChangedAndAllArePutBack) {
  HWND plain = CreateTopLevel(true, false, 0);
  HWND topmost = CreateTopLevel(true, true, 130);
  HWND hidden = CreateTopLevel(false, false, 260);
  HWND alreadyDisabled = CreateTopLevel(true, false, 390);
  EnableWindow(alreadyDisabled, 0);

  // A topmost window of another thread, with a message loop of its own.
  std::atomic<HWND> foreign{nullptr};
  std::atomic<DWORD> foreignThread{0};
  std::thread other([&] {
    HWND window = CreateTopLevel(true, true, 520);
    foreignThread = GetCurrentThreadId();
    foreign = window;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    DestroyWindow(window);
  });
  while (!foreign) Sleep(1);

  watched = {plain, topmost, hidden, alreadyDisabled, foreign};
  std::vector<WindowState> before;
  for (HWND window : watched) before.push_back(StateOf(window));

  EXPECT_EQ(ShowWatched(), sys::IDOK);
  ASSERT_NE(seen.box, nullptr) << "the box never showed";
  std::vector<WindowState> whileUp = {
      {false, false},  // disabled
      {false, false},  // disabled and no longer topmost
      {true, false},   // hidden: untouched
      {false, false},  // was disabled already
      {true, true},    // another thread's: untouched
  };
  EXPECT_EQ(seen.states, whileUp);
  // EnumWindows meets them in Z order, which the system chooses; only the set is ours.
  std::vector<Record> records = {
      {plain, false, true}, {topmost, true, true}, {alreadyDisabled, false, false}};
  EXPECT_EQ(ByWindow(seen.records), ByWindow(records));

  std::vector<WindowState> after;
  for (HWND window : watched) after.push_back(StateOf(window));
  EXPECT_EQ(after, before);
  EXPECT_EQ(ralto::SnapshotWindowRestoreList(nullptr, 0), 0);

  PostThreadMessageW(foreignThread, WM_QUIT, 0, 0);
  other.join();
  watched.pop_back();
}

TEST_F(MessageBoxWindowsTest, TheForegroundWindowOwnsTheBoxAndIsNotDisabledByUs) {
  HWND front = CreateTopLevel(true, true, 0);
  HWND back = CreateTopLevel(true, false, 130);
  SetForegroundWindow(front);
  if (GetForegroundWindow() != front) GTEST_SKIP() << "no foreground window on this display";
  watched = {front, back};

  EXPECT_EQ(ShowWatched(), sys::IDOK);
  ASSERT_NE(seen.box, nullptr) << "the box never showed";
  EXPECT_EQ(seen.owner, front);
  // The box's own modal loop disables its owner; ShowMessage leaves that to it and only demotes
  // the owner, which is topmost.
  std::vector<Record> records = {{back, false, true}, {front, true, false}};
  EXPECT_EQ(ByWindow(seen.records), ByWindow(records));
  EXPECT_FALSE(seen.states[0].topmost);
  EXPECT_EQ(StateOf(front), (WindowState{true, true}));
  EXPECT_EQ(StateOf(back), (WindowState{true, false}));
}

// One thread records, disables and demotes while the other's box is up, and puts its window
// back while that box is still up. The order is fixed, since a thread's demotion may activate
// its window, which then owns a box the other thread opens just then; Wine places an owner
// under its owned boxes, and one asked to be topmost under another thread's box that lies
// above a plain window stays plain. So the other box is up before this thread's opens, and
// this thread's closes first: no box of ours lies above the other window when it is put back.
TEST_F(MessageBoxWindowsTest, TwoThreadsBoxesUpAtOnceEachPutBackTheirOwnWindows) {
  boxesTogether = 2;
  struct Side {
    HWND window = nullptr;
    std::int32_t result = 0;
    BoxView seen;
    WindowState after{};
  };
  Side theirs;
  HWND mine = CreateTopLevel(true, true, 0);
  std::atomic<bool> mineBack{false};
  std::atomic<bool> theirsBack{false};
  std::thread other([&] {
    HWND window = CreateTopLevel(true, true, 520);
    theirs.window = window;
    watched = {window};
    closeAfter = &mineBack;
    theirs.result = ShowWatched();
    theirs.seen = seen;
    theirs.after = StateOf(window);
    DestroyWindow(window);
    theirsBack = true;
  });
  while (boxesUp == 0 && !theirsBack) Sleep(1);
  watched = {mine};
  const std::int32_t result = ShowWatched();
  mineBack = true;
  other.join();

  EXPECT_EQ(result, sys::IDOK);
  EXPECT_EQ(theirs.result, sys::IDOK);
  ASSERT_TRUE(seen.looked && theirs.seen.looked) << "the boxes were never up together";
  // Each saw both threads' records, and its own window disabled and demoted.
  const std::vector<Record> both = {{mine, true, true}, {theirs.window, true, true}};
  EXPECT_EQ(ByWindow(seen.records), ByWindow(both));
  EXPECT_EQ(ByWindow(theirs.seen.records), ByWindow(both));
  const std::vector<WindowState> disabledAndDemoted = {{false, false}};
  EXPECT_EQ(seen.states, disabledAndDemoted);
  EXPECT_EQ(theirs.seen.states, disabledAndDemoted);
  EXPECT_EQ(StateOf(mine), (WindowState{true, true}));
  EXPECT_EQ(theirs.after, (WindowState{true, true}));
  EXPECT_EQ(ralto::SnapshotWindowRestoreList(nullptr, 0), 0);
}

}  // namespace
