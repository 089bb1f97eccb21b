// The POSIX stand-ins for the Windows file and clock functions: dispositions, handles that
// are not ours, 64-bit moves, searches, copies that are never torn, and time conversions.
#include "platform/file_io.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/clock.h"
#include "platform/process.h"
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
      {sys::TRUNCATE_EXISTING, sys::GENERIC_READ, true, false, "old"},
      {sys::CREATE_ALWAYS, sys::GENERIC_READ, true, false, "old"},
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

TEST_F(FileIoTest, OwnerOnlySecurityKeepsOthersOut) {
  struct stat status;
  auto create = [&](const char* name, void* security) {
    HANDLE h = sys::CreateFileW(Name(name).c_str(), sys::GENERIC_WRITE, 0, security,
                                sys::CREATE_ALWAYS, sys::FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    sys::CloseHandle(h);
    ASSERT_EQ(stat(PathOf(name).c_str(), &status), 0);
  };
  const mode_t mask = umask(022);
  create("plain", nullptr);
  EXPECT_EQ(status.st_mode & 0777, 0644u);
  create("secret", sys::OwnerOnlySecurity());
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  // A file that was readable by others before loses that when it is truncated.
  chmod(PathOf("secret").c_str(), 0644);
  create("secret", sys::OwnerOnlySecurity());
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  // Without it, an existing file keeps its mode.
  chmod(PathOf("plain").c_str(), 0640);
  create("plain", nullptr);
  EXPECT_EQ(status.st_mode & 0777, 0640u);
  umask(mask);
}

TEST_F(FileIoTest, DirectoriesAndReadOnlyFilesAreRefused) {
  std::filesystem::create_directory(folder / "dir");
  for (sys::DWORD creation : {sys::OPEN_EXISTING, sys::OPEN_ALWAYS, sys::CREATE_ALWAYS,
                              sys::TRUNCATE_EXISTING, sys::CREATE_NEW}) {
    for (sys::DWORD access : {sys::GENERIC_READ, sys::GENERIC_WRITE}) {
      EXPECT_EQ(sys::CreateFileW(Name("dir").c_str(), access, 7, nullptr, creation, 0, nullptr),
                INVALID_HANDLE_VALUE);
    }
  }
  WriteBytes("ro", "keep");
  chmod(PathOf("ro").c_str(), 0444);
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
  EXPECT_EQ(
      sys::CreateFileW(nullptr, sys::GENERIC_READ, 0, nullptr, sys::OPEN_EXISTING, 0, nullptr),
      INVALID_HANDLE_VALUE);
}

TEST_F(FileIoTest, PipesAreRefusedWithoutWaitingForAPeer) {
  // Nobody ever opens the other end: an open that waited would never return.
  ASSERT_EQ(mkfifo(PathOf("pipe").c_str(), 0644), 0);
  for (sys::DWORD creation :
       {sys::OPEN_EXISTING, sys::OPEN_ALWAYS, sys::CREATE_ALWAYS, sys::TRUNCATE_EXISTING}) {
    for (sys::DWORD access :
         {sys::GENERIC_READ, sys::GENERIC_WRITE, sys::GENERIC_READ | sys::GENERIC_WRITE}) {
      EXPECT_EQ(sys::CreateFileW(Name("pipe").c_str(), access, 0, nullptr, creation, 0, nullptr),
                INVALID_HANDLE_VALUE);
    }
  }
}

TEST_F(FileIoTest, CloseHandleIgnoresWhatIsNotAFileOfOurs) {
  HANDLE file = sys::CreateFileW(Name("f").c_str(), sys::GENERIC_WRITE, 0, nullptr,
                                 sys::CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ASSERT_EQ(sys::CloseHandle(file), sys::TRUE);
  // The descriptor number is free again and goes to the next opener, who must keep it.
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  EXPECT_EQ(sys::CloseHandle(file), sys::FALSE);
  EXPECT_EQ(sys::CloseHandle(reinterpret_cast<HANDLE>(std::intptr_t{pipeEnds[1]} + 1)), sys::FALSE);
  EXPECT_EQ(sys::CloseHandle(nullptr), sys::FALSE);
  EXPECT_EQ(sys::CloseHandle(INVALID_HANDLE_VALUE), sys::FALSE);
  HANDLE thread = sys::CreateThread(
      nullptr, 0, [](void*) -> sys::DWORD { return 0; }, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  sys::CloseHandle(thread);
  EXPECT_NE(fcntl(pipeEnds[0], F_GETFD), -1);
  EXPECT_NE(fcntl(pipeEnds[1], F_GETFD), -1);
  EXPECT_EQ(write(pipeEnds[1], "x", 1), 1);
  close(pipeEnds[0]);
  close(pipeEnds[1]);
  char byte;
  sys::DWORD count = 7;
  EXPECT_EQ(sys::ReadFile(file, &byte, 1, &count, nullptr), sys::FALSE);
  EXPECT_EQ(count, 0u);
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
  chmod(PathOf("Grüße.txt").c_str(), 0444);
  std::filesystem::create_directory(folder / "dir");
  sys::WIN32_FIND_DATAW found;
  HANDLE search = sys::FindFirstFileW(Name("Gr?ße.*").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::u16string(found.cFileName), u"Grüße.txt");
  EXPECT_EQ(found.dwFileAttributes, sys::FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(found.nFileSizeLow, 5u);
  EXPECT_EQ(sys::FindClose(search), sys::TRUE);

  search = sys::FindFirstFileW(Name("dir").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::u16string(found.cFileName), u"dir");
  EXPECT_TRUE(found.dwFileAttributes & sys::FILE_ATTRIBUTE_DIRECTORY);
  sys::FindClose(search);

  EXPECT_EQ(sys::FindFirstFileW(Name("G?u*e").c_str(), &found), INVALID_HANDLE_VALUE);
  EXPECT_EQ(sys::FindFirstFileW(Name("dir/").c_str(), &found), INVALID_HANDLE_VALUE);
  EXPECT_EQ(sys::FindFirstFileW(Name("dir/*").c_str(), &found) == INVALID_HANDLE_VALUE ||
                std::u16string(found.cFileName).starts_with(u"."),
            true);  // only . and .. are there
}

// Waits, for a bounded time, until a temporary copy has started beside the destination.
bool AwaitPartialCopy(const std::filesystem::path& folder) {
  for (int attempt = 0; attempt < 5000; ++attempt) {
    for (auto& entry : std::filesystem::directory_iterator(folder)) {
      std::error_code ignored;
      if (entry.path().filename().string().starts_with("target.copy-") &&
          std::filesystem::file_size(entry.path(), ignored) > 0) {
        return true;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

TEST_F(FileIoTest, CopyIsNeverSeenHalfWritten) {
  // The source is a pipe: the copy takes what the writer gives it, when it gives it.
  WriteBytes("target", "old content\n");
  ASSERT_EQ(mkfifo(PathOf("source").c_str(), 0644), 0);
  std::u16string source = Name("source");
  std::u16string target = Name("target");

  for (bool copierCrashes : {true, false}) {
    SCOPED_TRACE(copierCrashes ? "the copier dies" : "the writer finishes");
    pid_t copier = fork();
    ASSERT_GE(copier, 0);
    if (copier == 0) _exit(sys::CopyFileW(source.c_str(), target.c_str(), sys::FALSE) ? 0 : 1);
    int writer = open(PathOf("source").c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(write(writer, "new ", 4), 4);
    ASSERT_TRUE(AwaitPartialCopy(folder));
    EXPECT_EQ(ReadBytes("target"), "old content\n");  // mid-copy, a reader sees the old file
    int status = 0;
    if (copierCrashes) {
      kill(copier, SIGKILL);
      waitpid(copier, &status, 0);
      close(writer);
      EXPECT_EQ(ReadBytes("target"), "old content\n");
      for (auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with("target.copy-")) {
          std::filesystem::remove(entry.path());
        }
      }
    } else {
      ASSERT_EQ(write(writer, "content\n", 8), 8);
      close(writer);
      waitpid(copier, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      EXPECT_EQ(ReadBytes("target"), "new content\n");
    }
  }
}

TEST_F(FileIoTest, CopyRefusesAReadOnlyDestinationAndKeepsTheSourceMode) {
  WriteBytes("source", "new");
  chmod(PathOf("source").c_str(), 0640);
  WriteBytes("target", "old");
  chmod(PathOf("target").c_str(), 0444);
  EXPECT_EQ(sys::CopyFileW(Name("source").c_str(), Name("target").c_str(), sys::FALSE), sys::FALSE);
  EXPECT_EQ(ReadBytes("target"), "old");
  chmod(PathOf("target").c_str(), 0644);
  EXPECT_EQ(sys::CopyFileW(Name("source").c_str(), Name("target").c_str(), sys::TRUE), sys::FALSE);
  EXPECT_EQ(sys::CopyFileW(Name("source").c_str(), Name("target").c_str(), sys::FALSE), sys::TRUE);
  EXPECT_EQ(ReadBytes("target"), "new");
  struct stat status;
  ASSERT_EQ(stat(PathOf("target").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0640u);
}

TEST_F(FileIoTest, CopyToANameAtTheLengthLimit) {
  std::string longest(255, 'n');
  WriteBytes("source", "new");
  WriteBytes(longest, "old");
  EXPECT_EQ(sys::CopyFileW(Name("source").c_str(), Name(longest).c_str(), sys::FALSE), sys::TRUE);
  EXPECT_EQ(ReadBytes(longest), "new");
}

TEST_F(FileIoTest, AttributesToggleTheOwnerWriteBit) {
  WriteBytes("f", "x");
  struct stat status;
  ASSERT_EQ(sys::SetFileAttributesW(Name("f").c_str(), sys::FILE_ATTRIBUTE_READONLY), sys::TRUE);
  ASSERT_EQ(stat(PathOf("f").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0222, 0u);
  EXPECT_EQ(sys::DeleteFileW(Name("f").c_str()), sys::FALSE);
  ASSERT_EQ(sys::SetFileAttributesW(Name("f").c_str(), sys::FILE_ATTRIBUTE_NORMAL), sys::TRUE);
  ASSERT_EQ(stat(PathOf("f").c_str(), &status), 0);
  EXPECT_NE(status.st_mode & S_IWUSR, 0u);
  EXPECT_EQ(sys::DeleteFileW(Name("f").c_str()), sys::TRUE);
  EXPECT_EQ(sys::SetFileAttributesW(Name("f").c_str(), sys::FILE_ATTRIBUTE_NORMAL), sys::FALSE);
}

sys::FILETIME FileTimeOf(std::uint64_t ticks) {
  return sys::FILETIME{static_cast<sys::DWORD>(ticks), static_cast<sys::DWORD>(ticks >> 32)};
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

TEST(ClockTest, LocalFileTimeAppliesTheOffsetInForceNow) {
  constexpr std::uint64_t Summer = 133643088000000000;  // 2024-07-01 12:00 UTC
  constexpr std::uint64_t Hour = 36000000000;
  for (const char* zone : {"UTC", "UTC-2", "EST5"}) {
    ScopedZone scoped(zone);
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    sys::FILETIME utc = FileTimeOf(Summer);
    sys::FILETIME shifted;
    ASSERT_EQ(sys::FileTimeToLocalFileTime(&utc, &shifted), sys::TRUE);
    std::uint64_t ticks = std::uint64_t{shifted.dwHighDateTime} << 32 | shifted.dwLowDateTime;
    EXPECT_EQ(static_cast<std::int64_t>(ticks - Summer),
              static_cast<std::int64_t>(local.tm_gmtoff / 3600 * Hour))
        << zone;
  }
  ScopedZone east("UTC-2");
  sys::FILETIME start = FileTimeOf(0);
  sys::FILETIME shifted;
  EXPECT_EQ(sys::FileTimeToLocalFileTime(&start, &shifted), sys::TRUE);
  ScopedZone west("EST5");
  EXPECT_EQ(sys::FileTimeToLocalFileTime(&start, &shifted), sys::FALSE);  // before 1601
}

}  // namespace
}  // namespace ralto
