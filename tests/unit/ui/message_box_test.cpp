// The message box: what it does to the thread's other windows, and how it reads on a terminal.
#include "runtime/ui/message_box.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/heap.h"
#include "platform/posix/stand_in_windows.h"
#include "platform/process.h"
#include "platform/text_codec.h"
#include "platform/window.h"
#include "runtime/strings/heaps.h"

namespace {

using Kind = sys::StandInCall::Kind;

// Runs action with standard error sent into a temporary file and returns what it wrote.
template <typename Action>
std::string CaptureStandardError(Action action) {
  std::fflush(stderr);
  FILE* file = std::tmpfile();
  int saved = dup(STDERR_FILENO);
  dup2(fileno(file), STDERR_FILENO);
  action();
  dup2(saved, STDERR_FILENO);
  close(saved);
  std::string written;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) written += static_cast<char>(c);
  std::fclose(file);
  return written;
}

// A call as the tests spell it: what was done to which window.
struct Call {
  Kind kind;
  sys::HWND window;
  sys::BOOL enable = sys::FALSE;
  sys::HWND insertAfter = nullptr;
  bool operator==(const Call&) const = default;
};

std::vector<Call> Calls() {
  std::vector<Call> calls;
  for (const sys::StandInCall& call : sys::StandInCalls()) {
    calls.push_back({call.kind, call.window, call.enable, call.insertAfter});
  }
  return calls;
}

Call Disabled(sys::HWND window) {
  return {Kind::EnableWindow, window, sys::FALSE};
}
Call Enabled(sys::HWND window) {
  return {Kind::EnableWindow, window, sys::TRUE};
}
Call Demoted(sys::HWND window) {
  return {Kind::SetWindowPos, window, 0, sys::HWND_NOTOPMOST};
}
Call Promoted(sys::HWND window) {
  return {Kind::SetWindowPos, window, 0, sys::HWND_TOPMOST};
}
Call Box(sys::HWND owner) {
  return {Kind::MessageBox, owner};
}

class MessageBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ralto::generalHeap = sys::HeapCreate(0, 4096, 0);
    sys::ClearStandInWindows();
  }
  void TearDown() override {
    sys::ClearStandInWindows();
    sys::HeapDestroy(ralto::generalHeap);
    ralto::generalHeap = nullptr;
  }

  sys::HWND AddWindow(sys::DWORD threadId, bool visible, bool enabled, bool topmost) {
    return sys::AddStandInWindow({threadId, sys::GetCurrentProcessId(), visible, enabled, topmost});
  }
  sys::HWND AddOwnWindow(bool visible, bool enabled, bool topmost) {
    return AddWindow(sys::GetCurrentThreadId(), visible, enabled, topmost);
  }
  // The records of the boxes up now, as far as the tests look: none, or the one of another
  // thread.
  std::vector<ralto::WindowRestoreRecord> Records() {
    std::vector<ralto::WindowRestoreRecord> records(2);
    records.resize(static_cast<std::size_t>(ralto::SnapshotWindowRestoreList(records.data(), 2)));
    return records;
  }
  std::int32_t Show() {
    std::int32_t result = 0;
    CaptureStandardError([&] { result = ralto::ShowMessage(u"Titel", u"Text"); });
    return result;
  }

  const sys::DWORD otherThread = sys::GetCurrentThreadId() + 1;
};

// The updater's own case: no windows, the foreground belongs to someone else.
TEST_F(MessageBoxTest, ForeignForegroundGivesNoOwnerAndChangesNothing) {
  sys::HWND foreign =
      sys::AddStandInWindow({otherThread, sys::GetCurrentProcessId() + 1, true, true, true});
  sys::SetStandInForeground(foreign);

  EXPECT_EQ(Show(), sys::IDOK);
  EXPECT_EQ(Calls(), std::vector<Call>{Box(nullptr)});
  EXPECT_TRUE(sys::FindStandInWindow(foreign)->enabled);
  EXPECT_TRUE(Records().empty());
}

TEST_F(MessageBoxTest, NoForegroundWindowGivesNoOwner) {
  EXPECT_EQ(ralto::ProcessForegroundWindow(), nullptr);
  EXPECT_EQ(Show(), sys::IDOK);
  EXPECT_EQ(Calls(), std::vector<Call>{Box(nullptr)});
}

TEST_F(MessageBoxTest, OwnForegroundWindowOwnsTheBoxAndIsNeverDisabled) {
  sys::HWND owner = AddOwnWindow(true, true, true);
  sys::HWND other = AddOwnWindow(true, true, false);
  sys::SetStandInForeground(owner);

  EXPECT_EQ(Show(), sys::IDOK);
  // The owner is still demoted while the box is up, and promoted again afterwards.
  EXPECT_EQ(Calls(), (std::vector<Call>{Disabled(other), Demoted(owner), Box(owner), Enabled(other),
                                        Promoted(owner)}));
  EXPECT_TRUE(sys::FindStandInWindow(owner)->enabled);
  EXPECT_TRUE(sys::FindStandInWindow(owner)->topmost);
  EXPECT_TRUE(sys::FindStandInWindow(other)->enabled);
  EXPECT_TRUE(Records().empty());
}

TEST_F(MessageBoxTest, ForegroundWindowOfAnotherThreadOwnsTheBoxUntouched) {
  sys::HWND owner = AddWindow(otherThread, true, true, true);
  sys::SetStandInForeground(owner);

  EXPECT_EQ(Show(), sys::IDOK);
  EXPECT_EQ(Calls(), std::vector<Call>{Box(owner)});
}

TEST_F(MessageBoxTest, HiddenAndOtherThreadWindowsAreLeftAlone) {
  sys::HWND hidden = AddOwnWindow(false, true, true);
  sys::HWND foreign = AddWindow(otherThread, true, true, true);

  EXPECT_EQ(Show(), sys::IDOK);
  EXPECT_EQ(Calls(), std::vector<Call>{Box(nullptr)});
  EXPECT_TRUE(sys::FindStandInWindow(hidden)->enabled);
  EXPECT_TRUE(sys::FindStandInWindow(hidden)->topmost);
  EXPECT_TRUE(sys::FindStandInWindow(foreign)->enabled);
  EXPECT_TRUE(sys::FindStandInWindow(foreign)->topmost);
}

TEST_F(MessageBoxTest, OnlyWindowsDisabledForTheBoxAreEnabledAgain) {
  sys::HWND alreadyDisabled = AddOwnWindow(true, false, false);
  sys::HWND enabled = AddOwnWindow(true, true, false);

  EXPECT_EQ(Show(), sys::IDOK);
  EXPECT_EQ(Calls(), (std::vector<Call>{Disabled(enabled), Box(nullptr), Enabled(enabled)}));
  EXPECT_FALSE(sys::FindStandInWindow(alreadyDisabled)->enabled);
  EXPECT_TRUE(sys::FindStandInWindow(enabled)->enabled);
}

// Both walks start at the newest record; each promotion puts its window on top of the
// topmost band, so the last one promoted (the first enumerated) ends up on top again.
TEST_F(MessageBoxTest, TopmostWindowsAreDemotedAndPromotedNewestFirst) {
  sys::HWND first = AddOwnWindow(true, true, true);
  sys::HWND second = AddOwnWindow(true, false, true);
  sys::HWND third = AddOwnWindow(true, true, true);

  EXPECT_EQ(Show(), sys::IDOK);
  EXPECT_EQ(Calls(),
            (std::vector<Call>{Disabled(first), Disabled(third), Demoted(third), Demoted(second),
                               Demoted(first), Box(nullptr), Enabled(third), Promoted(third),
                               Promoted(second), Enabled(first), Promoted(first)}));
  for (const sys::StandInCall& call : sys::StandInCalls()) {
    if (call.kind == Kind::SetWindowPos) {
      EXPECT_EQ(call.flags, 3u);
    }
  }
  for (sys::HWND window : {first, second, third}) {
    EXPECT_TRUE(sys::FindStandInWindow(window)->topmost);
  }
  EXPECT_FALSE(sys::FindStandInWindow(second)->enabled);
  EXPECT_TRUE(Records().empty());
}

TEST_F(MessageBoxTest, RecordsOfAnotherThreadSurviveThisThreadsBox) {
  std::promise<sys::DWORD> threadId;
  std::promise<void> prepare, prepared, restore;
  std::thread other([&] {
    threadId.set_value(sys::GetCurrentThreadId());
    prepare.get_future().wait();
    ralto::PrepareModalWindows(1);
    prepared.set_value();
    restore.get_future().wait();
    ralto::PrepareModalWindows(0);
  });
  sys::HWND theirs = AddWindow(threadId.get_future().get(), true, true, false);
  prepare.set_value();
  prepared.get_future().wait();
  sys::HWND ours = AddOwnWindow(true, true, false);

  EXPECT_EQ(Show(), sys::IDOK);
  EXPECT_FALSE(sys::FindStandInWindow(theirs)->enabled);
  EXPECT_TRUE(sys::FindStandInWindow(ours)->enabled);
  const std::vector<ralto::WindowRestoreRecord> records = Records();
  EXPECT_EQ(records.size(), 1u);
  EXPECT_TRUE(records.empty() || records[0].window == theirs);

  restore.set_value();
  other.join();
  EXPECT_TRUE(sys::FindStandInWindow(theirs)->enabled);
  EXPECT_TRUE(Records().empty());
}

// A window that could not be recorded could not be put back, so it is not changed at all.
TEST_F(MessageBoxTest, WindowWithoutRecordIsNotChanged) {
  sys::HWND window = AddOwnWindow(true, true, true);
  sys::HANDLE heap = ralto::generalHeap;
  ralto::generalHeap = nullptr;  // a heap that gives nothing, like an exhausted one

  EXPECT_EQ(Show(), sys::IDOK);
  ralto::generalHeap = heap;
  EXPECT_EQ(Calls(), std::vector<Call>{Box(nullptr)});
  EXPECT_TRUE(sys::FindStandInWindow(window)->enabled);
  EXPECT_TRUE(sys::FindStandInWindow(window)->topmost);
}

std::string Rendered(const char16_t* title, const char16_t* text) {
  return CaptureStandardError([&] { EXPECT_EQ(sys::MessageBoxW(nullptr, text, title, 0), 1); });
}

TEST_F(MessageBoxTest, BoxIsTitleTextAndEmptyLineInUtf8) {
  std::string box = CaptureStandardError([] {
    EXPECT_EQ(ralto::ShowMessage(u"Update unverändert",
                                 u"Die IP-Adresse ist unverändert.\r\nZweite Zeile\nDritte"),
              sys::IDOK);
  });
  EXPECT_EQ(box,
            "Update unver\xC3\xA4ndert\n"
            "Die IP-Adresse ist unver\xC3\xA4ndert.\nZweite Zeile\nDritte\n\n");
  EXPECT_EQ(Rendered(nullptr, nullptr), "\n\n\n");
  EXPECT_EQ(Rendered(u"", u"\r\n"), "\n\n\n\n");
}

// The UTF-8 bytes of one unit that is no surrogate.
std::string Utf8Of(char16_t unit) {
  char bytes[3];
  int count = sys::WideCharToMultiByte(sys::CP_UTF8, 0, &unit, 1, bytes, 3, nullptr, nullptr);
  return std::string(bytes, static_cast<std::size_t>(count));
}

// A server's answer ends up in a box: nothing in it may reach the terminal as a command, turn
// the direction of the text or break its line where the text has no line feed.
TEST_F(MessageBoxTest, ControlCharactersAreShownAsQuestionMarks) {
  struct Range {
    char16_t first;
    char16_t last;
  };
  const Range controls[] = {
      {0x01, 0x1F},      // C0; a line feed of the text stays one
      {0x7F, 0x9F},      // DEL and C1, among them the one-unit CSI and NEL
      {0x061C, 0x061C},  // Arabic letter mark
      {0x200E, 0x200F},  // left-to-right and right-to-left marks
      {0x2028, 0x2029},  // line and paragraph separators
      {0x202A, 0x202E},  // embeddings, their end, overrides
      {0x2066, 0x2069},  // isolates and their end
  };
  auto isControl = [&](char16_t unit) {
    for (const Range& range : controls) {
      if (unit >= range.first && unit <= range.last) return true;
    }
    return false;
  };
  // Every unit up to the first printable Latin-1 one, and each range with its neighbours.
  std::vector<char16_t> units;
  for (char16_t unit = 0x01; unit <= 0xA0; ++unit) units.push_back(unit);
  for (const Range& range : controls) {
    if (range.first < 0xA0) continue;
    for (char16_t unit = range.first - 1; unit <= range.last + 1; ++unit) units.push_back(unit);
  }
  for (char16_t unit : units) {
    SCOPED_TRACE(static_cast<int>(unit));
    const std::string shown = isControl(unit) ? "?" : Utf8Of(unit);
    const char16_t text[] = {u'a', unit, u'b', 0};
    EXPECT_EQ(Rendered(u"T", text), "T\na" + (unit == u'\n' ? "\n" : shown) + "b\n\n");
    // The title is one line: its line breaks are controls too.
    const char16_t title[] = {unit, 0};
    EXPECT_EQ(Rendered(title, u"x"), shown + "\nx\n\n");
  }
  // Escape sequences, and CR apart from the CR LF it ends a line with.
  EXPECT_EQ(Rendered(u"T",
                     u"\x1B[2J\x1B]0;x\x07"
                     u"end"),
            "T\n?[2J?]0;x?end\n\n");
  EXPECT_EQ(Rendered(u"T", u"b\rc\r\r\nd"), "T\nb?c?\nd\n\n");
  EXPECT_EQ(Rendered(u"a\r\nb", u"x"), "a??b\nx\n\n");
}

TEST_F(MessageBoxTest, StandardErrorWithoutAReaderFailsTheBoxAndNothingElse) {
  // A pipe whose reading end is closed: writing to it raises SIGPIPE, which would end the
  // process (this test with it) unless the box keeps it away.
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  std::fflush(stderr);
  int saved = dup(STDERR_FILENO);
  dup2(ends[1], STDERR_FILENO);
  close(ends[1]);
  std::int32_t result = ralto::ShowMessage(u"Titel", u"Text");
  dup2(saved, STDERR_FILENO);
  close(saved);
  EXPECT_EQ(result, 0);
  sigset_t pending;
  sigpending(&pending);
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

TEST_F(MessageBoxTest, IllFormedUtf16BecomesReplacementCharacters) {
  EXPECT_EQ(Rendered(u"T",
                     u"a\xD800"
                     u"b\xDC00"),
            "T\na\xEF\xBF\xBD"
            "b\xEF\xBF\xBD\n\n");
  EXPECT_EQ(Rendered(u"\xDBFF", u"\U0001F600"), "\xEF\xBF\xBD\n\xF0\x9F\x98\x80\n\n");
}

}  // namespace
