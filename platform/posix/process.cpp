// The process on POSIX: the command line joined from main's arguments, detached threads, the
// ids, the end.
#include "platform/process.h"

#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/posix/command_line_text.h"
#include "platform/text_codec.h"

namespace sys {
namespace {

std::u16string Utf8ToUtf16(const std::string& bytes) {
  if (bytes.empty()) return {};
  int count = static_cast<int>(bytes.size());
  int units = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), count, nullptr, 0);
  std::u16string text(static_cast<std::size_t>(units), u'\0');
  if (units > 0) MultiByteToWideChar(CP_UTF8, 0, bytes.data(), count, text.data(), units);
  return text;
}

// What TakeArguments was handed, the line joined from it, and where each argument's piece of
// the line starts. Reachable for the whole life of the process, so never freed.
struct Arguments {
  int count = 0;
  char** values = nullptr;
  std::u16string line;
  std::vector<std::int32_t> starts;
};
Arguments* arguments = nullptr;

// Handed from CreateThread to the new thread, which answers with its id before it starts.
struct ThreadLaunch {
  ThreadStart start;
  void* parameter;
  pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t started = PTHREAD_COND_INITIALIZER;
  bool ready = false;
  DWORD threadId = 0;
};

void* RunThread(void* argument) {
  auto* launch = static_cast<ThreadLaunch*>(argument);
  ThreadStart start = launch->start;
  void* parameter = launch->parameter;
  pthread_mutex_lock(&launch->lock);
  launch->threadId = GetCurrentThreadId();
  launch->ready = true;
  pthread_cond_signal(&launch->started);
  pthread_mutex_unlock(&launch->lock);
  // launch belongs to CreateThread's frame and is gone from here on.
  start(parameter);
  return nullptr;
}

}  // namespace

std::u16string JoinCommandLine(int argc, const char* const* argv) {
  std::u16string line;
  for (int i = 0; i < argc; ++i) {
    std::u16string argument;
    for (char16_t unit : Utf8ToUtf16(argv[i] ? argv[i] : "")) {
      if (unit != u'"') argument.push_back(unit);
    }
    if (i > 0) line.push_back(u' ');
    if (argument.empty() || argument.find(u' ') != std::u16string::npos) {
      line.push_back(u'"');
      line += argument;
      line.push_back(u'"');
    } else {
      line += argument;
    }
  }
  return line;
}

void TakeArguments(int argc, char** argv) {
  if (!arguments) arguments = new Arguments;
  arguments->count = argc;
  arguments->values = argv;
  arguments->line = JoinCommandLine(argc, argv);
  // The line is the pieces of single arguments joined by single spaces.
  arguments->starts.clear();
  std::int32_t start = 0;
  for (int i = 0; i < argc; ++i) {
    arguments->starts.push_back(start);
    start += static_cast<std::int32_t>(JoinCommandLine(1, argv + i).size()) + 1;
  }
}

const char16_t* GetCommandLineW() {
  return arguments ? arguments->line.c_str() : u"";
}

void OverwriteCommandLine(std::int32_t offset, std::int32_t count) {
  if (!arguments || offset < 0 || count <= 0) return;
  std::u16string& line = arguments->line;
  const auto end = static_cast<std::int32_t>(
      std::min<std::size_t>(line.size(), static_cast<std::size_t>(offset) + count));
  for (std::int32_t i = offset; i < end; ++i) {
    if (line[i] != u'"') line[i] = u'*';
  }
  const std::vector<std::int32_t>& starts = arguments->starts;
  // The argument whose piece holds offset, and every one after it that starts before end.
  auto first = std::upper_bound(starts.begin(), starts.end(), offset) - starts.begin() - 1;
  for (auto i = first; i < arguments->count && starts[i] < end; ++i) {
    for (char* byte = arguments->values[i]; byte && *byte; ++byte) *byte = '*';
  }
}

HANDLE CreateThread(void*, std::size_t, ThreadStart start, void* parameter, DWORD,
                    DWORD* threadId) {
  if (!start) return nullptr;
  ThreadLaunch launch{start, parameter};
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return nullptr;
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  int failed = pthread_create(&thread, &attributes, RunThread, &launch);
  pthread_attr_destroy(&attributes);
  if (failed) return nullptr;
  pthread_mutex_lock(&launch.lock);
  while (!launch.ready) pthread_cond_wait(&launch.started, &launch.lock);
  pthread_mutex_unlock(&launch.lock);
  if (threadId) *threadId = launch.threadId;
  return ThreadHandle;
}

void ExitProcess(UINT exitCode) {
  std::fflush(nullptr);
  std::exit(static_cast<int>(exitCode));
}

void ProtectProcessMemory() {
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

void ProtectProcessWrites() {
  signal(SIGXFSZ, SIG_IGN);
}

DWORD GetCurrentProcessId() {
  return static_cast<DWORD>(getpid());
}

DWORD GetCurrentThreadId() {
  return static_cast<DWORD>(gettid());
}

}  // namespace sys
