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

// Well-formed UTF-8 as Unicode defines it: no overlong form, no surrogate, nothing past
// U+10FFFF, no sequence cut short.
inline bool IsWellFormedUtf8(const std::string& bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    auto lead = static_cast<std::uint8_t>(bytes[i]);
    std::size_t length = lead < 0x80   ? 1
                         : lead < 0xC2 ? 0
                         : lead < 0xE0 ? 2
                         : lead < 0xF0 ? 3
                         : lead < 0xF5 ? 4
                                       : 0;
    if (length == 0 || i + length > bytes.size()) return false;
    std::uint32_t code = length == 1 ? lead : lead & (0xFF >> (length + 1));
    for (std::size_t k = 1; k < length; ++k) {
      auto next = static_cast<std::uint8_t>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (length == 4 && (code < 0x10000 || code > 0x10FFFF))) {
      return false;
    }
    i += length;
  }
  return true;
}

}  // namespace ralto::fuzz

#define FUZZ_CHECK(condition)                                    \
  do {                                                           \
    if (!(condition)) ::ralto::fuzz::Fail(#condition, __LINE__); \
  } while (0)
