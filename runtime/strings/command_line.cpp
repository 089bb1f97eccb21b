// Splitting the command line into arguments, and fetching them into the area.
#include "runtime/strings/command_line.h"

#include "platform/heap.h"
#include "platform/process.h"
#include "runtime/strings/heaps.h"
#include "runtime/strings/string_area.h"

namespace ralto {

ArgumentCursor* argumentCursor = nullptr;

void CreateArgumentCursor() {
  argumentCursor = static_cast<ArgumentCursor*>(
      sys::HeapAlloc(generalHeap, sys::HEAP_ZERO_MEMORY, sizeof(ArgumentCursor)));
}

std::int32_t ScanCommandLine(const char16_t* line, std::int32_t* nextIndex,
                             const char16_t** token) {
  const char16_t* p = line ? line : u"";
  std::int32_t counter = -1;  // the program name is token -1
  for (;;) {
    while (*p == u' ') ++p;
    if (*p == 0) break;
    const char16_t* start;
    std::int32_t length;
    if (*p == u'"') {
      // A quoted token ends at its closing quote, even when no space follows.
      start = ++p;
      while (*p && *p != u'"') ++p;
      length = static_cast<std::int32_t>(p - start);
      if (*p) ++p;
    } else {
      start = p;
      while (*p && *p != u' ') {
        if (*p++ == u'"') {
          while (*p && *p != u'"') ++p;
          if (*p) ++p;
        }
      }
      length = static_cast<std::int32_t>(p - start);
    }
    if (token && counter == *nextIndex) {
      *token = start;
      ++*nextIndex;
      return length;
    }
    ++counter;
  }
  if (!token) return counter;
  *token = p;
  return 0;
}

std::int32_t StripQuotes(const char16_t* source, char16_t* destination, std::int32_t count) {
  std::int32_t dropped = 0;
  for (std::int32_t i = 0; i < count && source[i]; ++i) {
    if (source[i] == u'"') {
      ++dropped;
    } else {
      *destination++ = source[i];
    }
  }
  *destination = 0;
  return dropped;
}

std::int32_t CommandArgumentCount(const char16_t* line) {
  // A line without even a program name scans as -1 tokens after it.
  std::int32_t count = ScanCommandLine(line, nullptr, nullptr);
  return count < 0 ? 0 : count;
}

void CommandArgument(const char16_t* line, std::int32_t index, std::int32_t at) {
  std::int32_t unset = 0;
  std::int32_t* nextIndex = argumentCursor ? &argumentCursor->nextIndex : &unset;
  if (index >= 0) *nextIndex = index;
  const char16_t* token;
  std::int32_t length = ScanCommandLine(line, nextIndex, &token);
  char16_t* destination = ReserveTemp(length, at);
  DropTempChars(StripQuotes(token, destination, length));
}

std::int32_t CommandArgumentCount() {
  return CommandArgumentCount(sys::GetCommandLineW());
}

void CommandArgument(std::int32_t index, std::int32_t at) {
  CommandArgument(sys::GetCommandLineW(), index, at);
}

void HideCommandArguments(std::int32_t first, std::int32_t end) {
  const char16_t* line = sys::GetCommandLineW();
  // One walk: each scan goes on from behind the token before, whose end (and closing quote,
  // if it has one) is where the next token may start.
  const char16_t* rest = line;
  std::int32_t wanted = first;
  for (std::int32_t index = first; index < end; ++index) {
    const std::int32_t asked = wanted;
    const char16_t* token;
    const std::int32_t length = ScanCommandLine(rest, &wanted, &token);
    if (wanted == asked) return;
    sys::OverwriteCommandLine(static_cast<std::int32_t>(token - line), length);
    rest = token + length;
    if (*rest == u'"') ++rest;
    wanted = -1;  // the rest's first token: the scan counts the program name as -1
  }
}

}  // namespace ralto
