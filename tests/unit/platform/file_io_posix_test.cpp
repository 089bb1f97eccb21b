// The POSIX stand-ins for the Windows file and clock functions where only POSIX can show them:
// file modes, pipes, descriptors that are not ours, a copier killed mid-copy, and TZ.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/process.h"
#include "tests/unit/files/files_fixture.h"

namespace ralto {
namespace {

using FileIoTest = FilesTest;
using sys::HANDLE;
using sys::INVALID_HANDLE_VALUE;

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
