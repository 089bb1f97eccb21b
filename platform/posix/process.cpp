// The process on POSIX: the command line rebuilt from argv, detached threads, the ids, the end.
#include "platform/process.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/posix/command_line_text.h"
#include "platform/posix/robust_io.h"
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

// Plain reads, not a stream: a stream would set up the C++ locale, which costs the one-pass
// program a measurable share of its start-up.
std::string ReadWholeFile(const char* path) {
  std::string raw;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return raw;
  char chunk[4096];
  for (;;) {
    ssize_t n = posix::ReadRetrying(fd, chunk, sizeof chunk);
    if (n <= 0) break;
    raw.append(chunk, static_cast<std::size_t>(n));
  }
  close(fd);
  return raw;
}

std::u16string ReadCommandLine() {
  std::string raw = ReadWholeFile("/proc/self/cmdline");
  // Every argument ends in a 0 byte.
  std::vector<std::string> arguments;
  std::size_t start = 0;
  while (start < raw.size()) {
    std::size_t end = raw.find('\0', start);
    if (end == std::string::npos) end = raw.size();
    arguments.push_back(raw.substr(start, end - start));
    start = end + 1;
  }
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  return JoinCommandLine(static_cast<int>(argv.size()), argv.data());
}

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

const char16_t* GetCommandLineW() {
  // Reachable for the whole life of the process, so it is never freed.
  static const std::u16string* line = new std::u16string(ReadCommandLine());
  return line->c_str();
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
