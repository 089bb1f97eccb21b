// The file and clock functions of the platform layer: dispositions, read-only files, 64-bit
// moves, searches, long names and time conversions.
#include "platform/file_io.h"

#include "platform/clock.h"
#include "tests/unit/files/files_fixture.h"

namespace ralto {
namespace {

using FileIoTest = FilesTest;
using sys::HANDLE;
using sys::INVALID_HANDLE_VALUE;

TEST_F(FileIoTest, CreationDispositions) {
  struct Case {
    sys::DWORD creation;
    sys::DWORD access;
    bool exists;
    bool opens;
    const char* after;  // content afterwards, or null when the file is still missing
  };
  constexpr sys::DWORD ReadWrite = sys::GENERIC_READ | sys::GENERIC_WRITE;
  const Case cases[] = {
      {sys::CREATE_NEW, ReadWrite, true, false, "old"},
      {sys::CREATE_NEW, ReadWrite, false, true, ""},
      {sys::CREATE_ALWAYS, ReadWrite, true, true, ""},
      {sys::CREATE_ALWAYS, ReadWrite, false, true, ""},
      {sys::OPEN_ALWAYS, ReadWrite, true, true, "old"},
      {sys::OPEN_ALWAYS, ReadWrite, false, true, ""},
      {sys::OPEN_EXISTING, sys::GENERIC_READ, true, true, "old"},
      {sys::OPEN_EXISTING, sys::GENERIC_READ, false, false, nullptr},
      {sys::TRUNCATE_EXISTING, sys::GENERIC_WRITE, true, true, ""},
      {sys::TRUNCATE_EXISTING, sys::GENERIC_WRITE, false, false, nullptr},
#ifndef _WIN32
      // The stand-in never empties a file without write access; Windows leaves that to the
      // file system, and Wine empties it.
      {sys::TRUNCATE_EXISTING, sys::GENERIC_READ, true, false, "old"},
      {sys::CREATE_ALWAYS, sys::GENERIC_READ, true, false, "old"},
#endif
      {99, ReadWrite, true, false, "old"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("creation " + std::to_string(c.creation) + (c.exists ? ", exists" : ""));
    std::filesystem::remove(folder / "f");
    if (c.exists) WriteBytes("f", "old");
    HANDLE h = sys::CreateFileW(Name("f").c_str(), c.access, 0, nullptr, c.creation,
                                sys::FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens);
    EXPECT_NE(h, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      EXPECT_EQ(sys::CloseHandle(h), sys::TRUE);
    }
    if (c.after) {
      EXPECT_EQ(ReadBytes("f"), c.after);
    } else {
      EXPECT_FALSE(std::filesystem::exists(folder / "f"));
    }
  }
}

TEST_F(FileIoTest, DirectoriesAndDevicesAreRefused) {
  std::filesystem::create_directory(folder / "dir");
  for (sys::DWORD creation : {sys::OPEN_EXISTING, sys::OPEN_ALWAYS, sys::CREATE_ALWAYS,
                              sys::TRUNCATE_EXISTING, sys::CREATE_NEW}) {
    for (sys::DWORD access : {sys::GENERIC_READ, sys::GENERIC_WRITE}) {
      EXPECT_EQ(sys::CreateFileW(Name("dir").c_str(), access, 7, nullptr, creation, 0, nullptr),
                INVALID_HANDLE_VALUE);
    }
  }
  EXPECT_EQ(
      sys::CreateFileW(nullptr, sys::GENERIC_READ, 0, nullptr, sys::OPEN_EXISTING, 0, nullptr),
      INVALID_HANDLE_VALUE);
  // Nor is a device a file: a read from one (a terminal, a serial line) may wait for ever.
#ifdef _WIN32
  const char16_t* device = u"NUL";
#else
  const char16_t* device = u"/dev/null";
#endif
  EXPECT_EQ(sys::CreateFileW(device, sys::GENERIC_READ, 7, nullptr, sys::OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
}

TEST_F(FileIoTest, ReadOnlyFilesAreRefused) {
  WriteBytes("ro", "keep");
  MakeReadOnly("ro");
  for (sys::DWORD creation :
       {sys::OPEN_EXISTING, sys::OPEN_ALWAYS, sys::CREATE_ALWAYS, sys::TRUNCATE_EXISTING}) {
    EXPECT_EQ(
        sys::CreateFileW(Name("ro").c_str(), sys::GENERIC_WRITE, 0, nullptr, creation, 0, nullptr),
        INVALID_HANDLE_VALUE);
  }
  EXPECT_EQ(ReadBytes("ro"), "keep");
  HANDLE reader = sys::CreateFileW(Name("ro").c_str(), sys::GENERIC_READ, 0, nullptr,
                                   sys::OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  sys::CloseHandle(reader);
}

TEST_F(FileIoTest, FilePointerMovesBySigned64BitDistances) {
  HANDLE h = sys::CreateFileW(Name("sparse").c_str(), sys::GENERIC_READ | sys::GENERIC_WRITE, 0,
                              nullptr, sys::CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  sys::DWORD written = 0;
  ASSERT_EQ(sys::WriteFile(h, "hello", 5, &written, nullptr), sys::TRUE);
  EXPECT_EQ(written, 5u);

  sys::LONG high = 1;  // 5 GiB: beyond what 32 bits can say
  EXPECT_EQ(sys::SetFilePointer(h, 0x40000000, &high, sys::FILE_BEGIN), 0x40000000u);
  EXPECT_EQ(high, 1);
  high = -2;  // 3 - 5 GiB from the current position: back to offset 3
  EXPECT_EQ(sys::SetFilePointer(h, -0x3FFFFFFD, &high, sys::FILE_CURRENT), 3u);
  EXPECT_EQ(high, 0);
  char bytes[8] = {};
  sys::DWORD got = 0;
  EXPECT_EQ(sys::ReadFile(h, bytes, sizeof bytes, &got, nullptr), sys::TRUE);
  EXPECT_EQ(std::string(bytes, got), "lo");
  EXPECT_EQ(sys::SetFilePointer(h, -4, nullptr, sys::FILE_END), 1u);
  EXPECT_EQ(sys::SetFilePointer(h, -2, nullptr, sys::FILE_BEGIN), sys::INVALID_SET_FILE_POINTER);
  EXPECT_EQ(sys::SetFilePointer(h, 0, nullptr, 9), sys::INVALID_SET_FILE_POINTER);
  sys::CloseHandle(h);

  h = sys::CreateFileW(Name("sparse").c_str(), sys::GENERIC_READ, 0, nullptr, sys::OPEN_EXISTING, 0,
                       nullptr);
  EXPECT_EQ(sys::WriteFile(h, "no", 2, &written, nullptr), sys::FALSE);
  EXPECT_EQ(written, 0u);
  sys::CloseHandle(h);
}

TEST_F(FileIoTest, FindFirstFileDescribesTheEntry) {
  WriteBytes("Grüße.txt", "12345");
  MakeReadOnly("Grüße.txt");
  std::filesystem::create_directory(folder / "dir");
  sys::WIN32_FIND_DATAW found;
  HANDLE search = sys::FindFirstFileW(Name("Gr?ße.*").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::u16string(found.cFileName), u"Grüße.txt");
  // Windows may add attributes of its own, such as the archive bit.
  EXPECT_EQ(found.dwFileAttributes & (sys::FILE_ATTRIBUTE_READONLY | sys::FILE_ATTRIBUTE_DIRECTORY),
            sys::FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(found.nFileSizeLow, 5u);
  EXPECT_EQ(sys::FindClose(search), sys::TRUE);

  search = sys::FindFirstFileW(Name("dir").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::u16string(found.cFileName), u"dir");
  EXPECT_TRUE(found.dwFileAttributes & sys::FILE_ATTRIBUTE_DIRECTORY);
  sys::FindClose(search);

  EXPECT_EQ(sys::FindFirstFileW(Name("G?u*e").c_str(), &found), INVALID_HANDLE_VALUE);
  EXPECT_EQ(sys::FindFirstFileW(Name("dir/").c_str(), &found), INVALID_HANDLE_VALUE);
  search = sys::FindFirstFileW(Name("dir/*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {  // only . and .. are there
    do {
      EXPECT_TRUE(std::u16string(found.cFileName).starts_with(u"."));
    } while (sys::FindNextFileW(search, &found));
    EXPECT_EQ(sys::FindClose(search), sys::TRUE);
  }
}

TEST_F(FileIoTest, AttributesToggleTheOwnerWriteBit) {
  WriteBytes("f", "x");
  ASSERT_EQ(sys::SetFileAttributesW(Name("f").c_str(), sys::FILE_ATTRIBUTE_READONLY), sys::TRUE);
  EXPECT_TRUE(IsReadOnly(PathOf("f")));
  EXPECT_EQ(sys::DeleteFileW(Name("f").c_str()), sys::FALSE);
#ifndef _WIN32
  // Nor does the rename itself replace it, as on Windows (Wine does).
  WriteBytes("g", "y");
  EXPECT_EQ(sys::MoveFileExW(Name("g").c_str(), Name("f").c_str(), sys::MOVEFILE_REPLACE_EXISTING),
            sys::FALSE);
  EXPECT_EQ(ReadBytes("f"), "x");
#endif
  ASSERT_EQ(sys::SetFileAttributesW(Name("f").c_str(), sys::FILE_ATTRIBUTE_NORMAL), sys::TRUE);
  EXPECT_FALSE(IsReadOnly(PathOf("f")));
  EXPECT_EQ(sys::DeleteFileW(Name("f").c_str()), sys::TRUE);
  EXPECT_EQ(sys::SetFileAttributesW(Name("f").c_str(), sys::FILE_ATTRIBUTE_NORMAL), sys::FALSE);
}

TEST(ClockTest, FileTimeToSystemTimeFields) {
  struct Case {
    std::uint64_t ticks;
    sys::WORD year, month, dayOfWeek, day, hour, minute, second, milliseconds;
  };
  const Case cases[] = {
      {0, 1601, 1, 1, 1, 0, 0, 0, 0},
      {116444736000000000, 1970, 1, 4, 1, 0, 0, 0, 0},
      {133643088001234567, 2024, 7, 1, 1, 12, 0, 0, 123},
      {128171772003000000, 2007, 2, 3, 28, 23, 0, 0, 300},
      {0x7FFFFFFFFFFFFFFF, 30828, 9, 4, 14, 2, 48, 5, 477},
  };
  for (const Case& c : cases) {
    sys::FILETIME time = FileTimeOf(c.ticks);
    sys::SYSTEMTIME f;
    ASSERT_EQ(sys::FileTimeToSystemTime(&time, &f), sys::TRUE) << c.ticks;
    EXPECT_EQ(f.wYear, c.year) << c.ticks;
    EXPECT_EQ(f.wMonth, c.month) << c.ticks;
    EXPECT_EQ(f.wDayOfWeek, c.dayOfWeek) << c.ticks;
    EXPECT_EQ(f.wDay, c.day) << c.ticks;
    EXPECT_EQ(f.wHour, c.hour) << c.ticks;
    EXPECT_EQ(f.wMinute, c.minute) << c.ticks;
    EXPECT_EQ(f.wSecond, c.second) << c.ticks;
    EXPECT_EQ(f.wMilliseconds, c.milliseconds) << c.ticks;
  }
  sys::FILETIME tooLate = FileTimeOf(0x8000000000000000);
  sys::SYSTEMTIME fields;
  EXPECT_EQ(sys::FileTimeToSystemTime(&tooLate, &fields), sys::FALSE);
}

}  // namespace
}  // namespace ralto
