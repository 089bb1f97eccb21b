// The POSIX stand-ins for the Windows file and clock functions where only POSIX can show them:
// file modes, pipes, descriptors that are not ours, a copier killed mid-copy, and TZ.
#include <fcntl.h>
#include <signal.h>
#include <sys/inotify.h>
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
  // Whatever the umask takes away, a file we create stays writable to us.
  umask(0222);
  create("made under 0222", nullptr);
  EXPECT_EQ(status.st_mode & 0777, 0644u);
  umask(mask);
}

TEST_F(FileIoTest, PipesAreRefusedWithoutWaitingForAPeer) {
  // Nobody opens the other end, and the pipe itself is never opened, only looked at (O_PATH).
  ASSERT_EQ(mkfifo(PathOf("pipe").c_str(), 0644), 0);
  const int opens = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(inotify_add_watch(opens, PathOf("pipe").c_str(), IN_OPEN), 0);
  for (sys::DWORD creation :
       {sys::OPEN_EXISTING, sys::OPEN_ALWAYS, sys::CREATE_ALWAYS, sys::TRUNCATE_EXISTING}) {
    for (sys::DWORD access :
         {sys::GENERIC_READ, sys::GENERIC_WRITE, sys::GENERIC_READ | sys::GENERIC_WRITE}) {
      EXPECT_EQ(sys::CreateFileW(Name("pipe").c_str(), access, 0, nullptr, creation, 0, nullptr),
                INVALID_HANDLE_VALUE);
    }
  }
  char event[4096];
  EXPECT_EQ(read(opens, event, sizeof event), -1);
  close(opens);
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

TEST_F(FileIoTest, ANewFileNeverGoesThroughALink) {
  WriteBytes("victim", "kept");
  symlink(PathOf("victim").c_str(), PathOf("link").c_str());
  symlink(PathOf("absent").c_str(), PathOf("dangling").c_str());
  for (const char* name : {"link", "dangling"}) {
    EXPECT_EQ(sys::CreateFileW(Name(name).c_str(), sys::GENERIC_WRITE, 0, nullptr, sys::CREATE_NEW,
                               0, nullptr),
              INVALID_HANDLE_VALUE)
        << name;
  }
  EXPECT_EQ(ReadBytes("victim"), "kept");
  EXPECT_FALSE(std::filesystem::exists(PathOf("absent")));
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
