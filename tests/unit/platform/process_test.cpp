// Threads, ids and the end of the process.
#include "platform/process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>

namespace sys {
namespace {

std::atomic<DWORD> seenThreadId{0};

DWORD RecordThread(void* parameter) {
  // A deep frame: the stack-size argument must not have limited the stack.
  volatile char frame[256 * 1024];
  frame[0] = 1;
  frame[sizeof frame - 1] = frame[0];
  seenThreadId = GetCurrentThreadId();
  static_cast<std::atomic<bool>*>(parameter)->store(true);
  return 0;
}

TEST(ProcessTest, ThreadRunsWithItsOwnIdAndAHandle) {
  std::atomic<bool> done{false};
  DWORD threadId = 0;
  HANDLE thread = CreateThread(nullptr, 8192, RecordThread, &done, 0, &threadId);
  ASSERT_NE(thread, nullptr);
#ifndef _WIN32
  EXPECT_EQ(thread, ThreadHandle);
#endif
  while (!done) {
  }
  EXPECT_EQ(seenThreadId.load(), threadId);
  EXPECT_NE(threadId, GetCurrentThreadId());
#ifndef _WIN32
  EXPECT_EQ(GetCurrentThreadId(), GetCurrentProcessId());  // the main thread
#endif
}

#ifndef _WIN32  // the stand-in's own promise
TEST(ProcessDeathTest, ExitFlushesBufferedOutput) {
  EXPECT_EXIT(
      {
        static char buffer[256];
        std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
        std::fputs("still buffered", stderr);
        ExitProcess(3);
      },
      ::testing::ExitedWithCode(3), "still buffered");
}
#endif

}  // namespace
}  // namespace sys
