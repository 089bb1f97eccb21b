// File dates by kind, pattern and zone; copies over existing files; deletion and read-only.
#include "runtime/files/file_system.h"

#include <utime.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_io.h"
#include "platform/test_hooks.h"
#include "runtime/files/date.h"
#include "runtime/files/held_file.h"
#include "runtime/files/temporary_file.h"
#include "tests/unit/files/files_fixture.h"

namespace ralto {
namespace {

using FileSystemTest = FilesTest;

constexpr time_t Accessed = 981173106;   // 2001-02-03 04:05:06 UTC
constexpr time_t Modified = 1289567655;  // 2010-11-12 13:14:15 UTC

void SetTimes(const std::filesystem::path& path, time_t accessed, time_t modified) {
  struct utimbuf times = {accessed, modified};
  ASSERT_EQ(utime(path.string().c_str(), &times), 0);
}

TEST_F(FileSystemTest, TimestampKindsInLocalTimeWithTheOffsetInForceNow) {
  WriteBytes("stamp", "x");
  SetTimes(PathOf("stamp"), Accessed, Modified);
  for (const char* zone : testZones) {
    ScopedZone scoped(zone);
    // The offset of today is applied to both stamps, whatever it was on those days.
    long offset = ZoneOffsetNow();
    EXPECT_EQ(FileTimestamp(Name("stamp").c_str(), TimestampLastAccess), Accessed + offset)
        << ZoneName(zone);
    EXPECT_EQ(FileTimestamp(Name("stamp").c_str(), TimestampLastWrite), Modified + offset)
        << ZoneName(zone);
    DateValue now = CurrentDate();
    for (std::int32_t kind : {0, 3, -1}) {  // the creation time, and what is no other kind
      // The creation time is the file's birth a moment ago, not either stamp set since.
      DateValue created = FileTimestamp(Name("stamp").c_str(), static_cast<TimestampKind>(kind));
      EXPECT_LE(created, now) << ZoneName(zone);
      EXPECT_GE(created, now - 60) << ZoneName(zone);
    }
  }
}

TEST_F(FileSystemTest, TimestampOfAPatternIsTheFirstMatch) {
  ScopedZone utc(utcZone);
  if (ZoneOffsetNow() != 0) GTEST_SKIP() << "the stamps are compared as UTC's";
  for (const char* name : {"stamp_a.txt", "stamp_b.txt", "stamp_c.log", "other.txt"}) {
    WriteBytes(name, name);
  }
  SetTimes(PathOf("stamp_a.txt"), Accessed, Modified);
  SetTimes(PathOf("stamp_b.txt"), Accessed, Modified);
  SetTimes(PathOf("stamp_c.log"), Accessed, Accessed);
  SetTimes(PathOf("other.txt"), Modified, Accessed);
  EXPECT_EQ(FileTimestamp(Name("stamp_*.txt").c_str(), TimestampLastWrite), Modified);
  EXPECT_EQ(FileTimestamp(Name("st?mp_?.log").c_str(), TimestampLastWrite), Accessed);
  EXPECT_EQ(FileTimestamp(Name("*her*").c_str(), TimestampLastAccess), Modified);
  EXPECT_EQ(FileTimestamp(Name("*.none").c_str(), TimestampLastWrite), 0);
  EXPECT_EQ(FileTimestamp(Name("stamp_?.txtx").c_str(), TimestampLastWrite), 0);
}

TEST_F(FileSystemTest, TimestampFailuresAndDatesOutOfRange) {
  ScopedZone utc(utcZone);
  if (ZoneOffsetNow() != 0) GTEST_SKIP() << "the range's ends are UTC's";
  EXPECT_EQ(FileTimestamp(nullptr, TimestampCreation), 0);
  EXPECT_EQ(FileTimestamp(u"", TimestampCreation), 0);
  EXPECT_EQ(FileTimestamp(Name("missing").c_str(), TimestampCreation), 0);
  EXPECT_EQ(FileTimestamp(Name("missing/*").c_str(), TimestampCreation), 0);
  WriteBytes("old", "x");
  SetTimes(PathOf("old"), -315619200, 2208988800);  // 1960-01-01 and 2040-01-01
  EXPECT_EQ(FileTimestamp(Name("old").c_str(), TimestampLastAccess), -1);
  EXPECT_EQ(FileTimestamp(Name("old").c_str(), TimestampLastWrite), -1);
  SetTimes(PathOf("old"), 0, 2147483647);
  // The first second of 1970 is indistinguishable from a failure.
  EXPECT_EQ(FileTimestamp(Name("old").c_str(), TimestampLastAccess), 0);
  EXPECT_EQ(FileTimestamp(Name("old").c_str(), TimestampLastWrite), 2147483647);
}

TEST_F(FileSystemTest, CopyReplacesTheDestinationWithANewFile) {
  WriteBytes("source", "new address\n");
  WriteBytes("target", "an old and longer content\n");
  // A second name for the old file, to tell it from the new one.
  std::filesystem::create_hard_link(PathOf("target"), PathOf("before"));
  EXPECT_NE(CopyFileTo(Name("source").c_str(), Name("target").c_str()), 0);
  EXPECT_EQ(ReadBytes("target"), "new address\n");
  EXPECT_EQ(ReadBytes("source"), "new address\n");
  // A new file in its place, so its creation date is the time of the copy, and the old file,
  // which a link may have put there, keeps its content.
  EXPECT_FALSE(std::filesystem::equivalent(PathOf("target"), PathOf("before")));
  EXPECT_EQ(ReadBytes("before"), "an old and longer content\n");
  EXPECT_NE(CopyFileTo(Name("source").c_str(), Name("fresh").c_str()), 0);
  EXPECT_EQ(ReadBytes("fresh"), "new address\n");
  // Written in place, a copy brings its own last write too, and goes.
  WriteBytes("kept", "kept address\n");
  SetTimes(PathOf("kept"), Accessed, Modified);
  const auto written = std::filesystem::last_write_time(PathOf("kept"));
  EXPECT_EQ(LandCopy(Name("kept").c_str(), true, Name("target").c_str()), 1);
  EXPECT_EQ(ReadBytes("target"), "kept address\n");
  EXPECT_EQ(std::filesystem::last_write_time(PathOf("target")), written);
  EXPECT_FALSE(std::filesystem::exists(PathOf("kept")));
}

TEST_F(FileSystemTest, FailedCopiesLeaveTheDestinationAlone) {
  WriteBytes("target", "old");
  std::filesystem::create_directory(folder / "dir");
  EXPECT_EQ(CopyFileTo(Name("missing").c_str(), Name("target").c_str()), 0);
  EXPECT_EQ(CopyFileTo(Name("dir").c_str(), Name("target").c_str()), 0);
  EXPECT_EQ(CopyFileTo(nullptr, Name("target").c_str()), 0);
  EXPECT_EQ(CopyFileTo(Name("target").c_str(), nullptr), 0);
  EXPECT_EQ(CopyFileTo(Name("target").c_str(), Name("dir").c_str()), 0);
  // No room beside a name at the length limit for the copy to grow in.
  WriteBytes(std::string(255, 'n'), "long");
  EXPECT_EQ(CopyFileTo(Name("target").c_str(), Name(std::string(255, 'n')).c_str()), 0);
  EXPECT_EQ(ReadBytes(std::string(255, 'n')), "long");
  // A read-only destination is the user's to keep.
  WriteBytes("kept", "old");
  MakeReadOnly("kept");
  EXPECT_EQ(CopyFileTo(Name("target").c_str(), Name("kept").c_str()), 0);
  EXPECT_EQ(ReadBytes("kept"), "old");
  EXPECT_EQ(ReadBytes("target"), "old");
  EXPECT_TRUE(std::filesystem::is_directory(folder / "dir"));
  // Nothing is left behind in the folder either.
  int entries = 0;
  for (auto& entry : std::filesystem::directory_iterator(folder)) entries += !entry.path().empty();
  EXPECT_EQ(entries, 4);
}

#ifdef _WIN32
// Holds name open for reading, as scanners and indexers do for a moment after a file changes:
// from before the call under test until a thread of its own lets go after holdMs.
std::thread HoldFor(const std::u16string& name, sys::DWORD share, int holdMs) {
  sys::HANDLE holder = sys::CreateFileW(name.c_str(), sys::GENERIC_READ, share, nullptr,
                                        sys::OPEN_EXISTING, sys::FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(holder, sys::INVALID_HANDLE_VALUE);
  return std::thread([=] {
    std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
    sys::CloseHandle(holder);
  });
}

// Windows refuses a rename onto a file that a reader holds without FILE_SHARE_DELETE.
TEST_F(FileSystemTest, ACopyAndARemovalWaitAMomentForAHeldFile) {
  WriteBytes("source", "new");
  for (int holdMs : {300, 5000}) {
    WriteBytes("target", "old");
    std::thread letGo =
        HoldFor(Name("target"), sys::FILE_SHARE_READ | sys::FILE_SHARE_WRITE, holdMs);
    const std::int32_t copied = CopyFileTo(Name("source").c_str(), Name("target").c_str());
    letGo.join();
    EXPECT_EQ(copied, holdMs == 300 ? 1 : 0) << holdMs;
    EXPECT_EQ(ReadBytes("target"), holdMs == 300 ? "new" : "old") << holdMs;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 2) << holdMs;
  }
  // Held without any sharing, a file can be neither read nor deleted until it is let go.
  std::thread letGo = HoldFor(Name("source"), 0, 300);
  EXPECT_EQ(CopyFileTo(Name("source").c_str(), Name("fresh").c_str()), 1);
  letGo.join();
  letGo = HoldFor(Name("fresh"), 0, 300);
  EXPECT_EQ(RemoveFile(Name("fresh").c_str(), RemoveClearReadOnly), 1);
  letGo.join();
  EXPECT_FALSE(std::filesystem::exists(folder / "fresh"));
  // A reader that shares reading (an indexer, a backup agent) is no holder to a reader.
  for (sys::DWORD share : {sys::FILE_SHARE_READ, sys::DWORD{0}}) {
    letGo = HoldFor(Name("source"), share, 300);
    const sys::UINT pauses = sys::SleepCalls();
    EXPECT_NE(OpenFileForRead(0, Name("source").c_str()), 0) << share;
    EXPECT_EQ(sys::SleepCalls() == pauses, share != 0) << share;
    CloseFileSlot(0);
    letGo.join();
  }
  // Sharing reading and deleting but not writing, a holder lets the probe through and refuses
  // the landing after the answer: the copy stays, for the pass to keep.
  letGo = HoldFor(Name("target"), sys::FILE_SHARE_READ | sys::FILE_SHARE_DELETE, 6000);
  PreparedCopy copy;
  ASSERT_EQ(PrepareCopy(Name("source").c_str(), Name("target").c_str(), &copy), CopyPrepared);
  EXPECT_EQ(LandCopy(copy.temporary, copy.inPlace, Name("target").c_str()), 0);
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(std::u16string(copy.temporary))));
  letGo.join();
  // One that writes and shares writing lets the copy be written in place.
  sys::HANDLE writer = sys::CreateFileW(Name("target").c_str(), sys::GENERIC_WRITE,
                                        sys::FILE_SHARE_READ | sys::FILE_SHARE_WRITE, nullptr,
                                        sys::OPEN_EXISTING, sys::FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(LandCopy(copy.temporary, true, Name("target").c_str()), 1);
  sys::CloseHandle(writer);
  EXPECT_EQ(ReadBytes("target"), "new");
  EXPECT_TRUE(FileExists(Name("target").c_str()));  // and lets go: a rename onto it goes
  EXPECT_EQ(ReplaceWithTemporary(Name("source").c_str(), Name("target").c_str(), true), 1);
  letGo = HoldFor(Name("target"), 0, 8000);
  const sys::UINT before = sys::SleepCalls();
  EXPECT_EQ(CreateFileForWrite(0, Name("target").c_str()), 0);
  EXPECT_EQ(sys::SleepCalls() - before, 8u);  // held past one wait, not waited for again
  letGo.join();
}
#endif

TEST_F(FileSystemTest, ATemporaryIsNeverOpenedThroughALinkAtItsName) {
  const sys::SYSTEMTIME stopped{2026, 12, 2, 8, 1, 2, 3, 4};  // the first name tried is known
  sys::StopLocalTime(&stopped);
  char16_t first[TemporaryNameUnits], second[TemporaryNameUnits];
  sys::CloseHandle(CreateTemporaryBeside(Name("w").c_str(), nullptr, first));
  std::filesystem::remove(first);
  WriteBytes("victim", "victim");
  std::filesystem::create_hard_link(PathOf("victim"), first);
  sys::CloseHandle(CreateTemporaryBeside(Name("w").c_str(), nullptr, second));
  sys::StopLocalTime(nullptr);
  EXPECT_EQ(ReadBytes("victim"), "victim");
  EXPECT_NE(std::u16string(first), second);  // the next attempt, in the same clock tick
}

TEST_F(FileSystemTest, LeftoverTemporariesAreClearedAndNothingElse) {
  WriteBytes("w.tmp-abc123", "left by a killed run");
  MakeReadOnly("w.tmp-abc123");
  WriteBytes("w.tmp-XYZ789", "another");
  WriteBytes("x.tmp-qwerty", "of another name");
  for (const char* kept :
       {"w", "w.tmp-abc12", "w.tmp-abc1234", "wx.tmp-abc12", "v.tmp-abc123", "w.copy-abc123"}) {
    WriteBytes(kept, "kept");
  }
  std::filesystem::create_directory(folder / "w.tmp-folder");
  // The names are bare: the folder is the current one.
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  const char16_t* const names[] = {u"w", nullptr, u"x"};
  ClearLeftoverTemporaries(names);
  std::filesystem::current_path(before);
  std::vector<std::string> left;
  for (auto& entry : std::filesystem::directory_iterator(folder)) {
    left.push_back(entry.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"v.tmp-abc123", "w", "w.copy-abc123", "w.tmp-abc12",
                                            "w.tmp-abc1234", "w.tmp-folder", "wx.tmp-abc12"}));
}

TEST_F(FileSystemTest, RemoveHonoursTheReadOnlyAttribute) {
  WriteBytes("locked", "x");
  MakeReadOnly("locked");
  EXPECT_EQ(RemoveFile(Name("locked").c_str()), 0);
  EXPECT_EQ(RemoveFile(Name("locked").c_str(), 0), 0);
  EXPECT_TRUE(std::filesystem::exists(folder / "locked"));
  EXPECT_NE(RemoveFile(Name("locked").c_str(), RemoveClearReadOnly), 0);
  EXPECT_FALSE(std::filesystem::exists(folder / "locked"));

  WriteBytes("plain", "x");
  EXPECT_NE(RemoveFile(Name("plain").c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(folder / "plain"));
  EXPECT_EQ(RemoveFile(Name("plain").c_str()), 0);
  EXPECT_EQ(RemoveFile(Name("plain").c_str(), RemoveClearReadOnly), 0);
  // Nothing waits for a name nobody holds, nor for a folder, whatever is renamed onto it.
  std::filesystem::create_directory(folder / "dir");
  WriteBytes("renamed", "x");
  const sys::UINT pauses = sys::SleepCalls();
  EXPECT_EQ(RemoveTemporary(Name("plain").c_str()), 0);
  EXPECT_EQ(ReplaceWithTemporary(Name("plain").c_str(), Name("absent").c_str(), true), 0);
  EXPECT_EQ(ReplaceWithTemporary(Name("renamed").c_str(), Name("dir").c_str(), true), 0);
#ifdef _WIN32  // Wine's Z: is Linux's root, where sysfs refuses any rename: access denied
  EXPECT_FALSE(MoveFileWaiting(u"Z:\\sys\\kernel", u"Z:\\sys\\absent", 0));
#endif
  EXPECT_EQ(RemoveFile(Name("dir").c_str(), RemoveClearReadOnly), 0);
  EXPECT_EQ(sys::SleepCalls(), pauses);
  EXPECT_EQ(RemoveFile(nullptr, RemoveClearReadOnly), 0);
  EXPECT_TRUE(std::filesystem::is_directory(folder / "dir"));
}

}  // namespace
}  // namespace ralto
