// What every fuzz target shares: the runtime's two heaps started once, a failed property
// reported as a crash libFuzzer keeps, and texts taken from the fuzzer's bytes.
#pragma once
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/heap.h"
#include "runtime/strings/heaps.h"
#include "runtime/strings/string_area.h"

namespace ralto::fuzz {

inline void StartRuntimeOnce() {
  static bool started = false;
  if (started) return;
  generalHeap = sys::HeapCreate(0, 4096, 0);
  StartStringArea();
  started = true;
}

[[noreturn]] inline void Fail(const char* property, int line) {
  std::fprintf(stderr, "property broken (line %d): %s\n", line, property);
  std::abort();
}

// UTF-16 units, two bytes each, as many as asked for (up to what is left); 0 units dropped,
// so that the text is what its terminator says.
inline std::u16string ConsumeText(FuzzedDataProvider& in, std::size_t maxUnits) {
  std::u16string text;
  while (text.size() < maxUnits && in.remaining_bytes() >= 2) {
    auto unit = in.ConsumeIntegral<std::uint16_t>();
    if (unit != 0) text.push_back(static_cast<char16_t>(unit));
  }
  return text;
}

}  // namespace ralto::fuzz

#define FUZZ_CHECK(condition) \
  do {                        \
    if (!(condition)) ::ralto::fuzz::Fail(#condition, __LINE__); \
  } while (0)
