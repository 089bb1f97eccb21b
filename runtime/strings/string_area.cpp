// String variables in the string heap and the temporary string area where expressions are built.
#include "runtime/strings/string_area.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/heap.h"
#include "runtime/strings/string_ops.h"

namespace ralto {

TempStringArea tempArea;

namespace {

sys::HANDLE stringHeap = nullptr;

// A string operation has no way to report a lost buffer, and going on without it would
// corrupt texts: the process stops instead.
[[noreturn]] void StringHeapExhausted() {
  std::fputs("ralto-update: out of memory for strings\n", stderr);
  std::abort();
}

void* AllocateBlock(std::size_t bytes) {
  void* block = sys::HeapAlloc(stringHeap, 0, bytes);
  if (!block) StringHeapExhausted();
  return block;
}

void* ResizeBlock(void* block, std::size_t bytes) {
  void* moved = sys::HeapReAlloc(stringHeap, 0, block, bytes);
  if (!moved) StringHeapExhausted();
  return moved;
}

std::size_t UnitCount(const char16_t* text) {
  return static_cast<std::size_t>(TextLength(text));
}

// Whether text starts inside the variable's own text (its terminator included).
bool LiesIn(const char16_t* text, const char16_t* own) {
  auto at = reinterpret_cast<std::uintptr_t>(text);
  auto start = reinterpret_cast<std::uintptr_t>(own);
  return at >= start && at <= start + 2 * UnitCount(own);
}

}  // namespace

void StartStringArea() {
  stringHeap = sys::HeapCreate(0, 4096, 0);
  if (!stringHeap) StringHeapExhausted();
  tempArea.position = 0;
  tempArea.capacity = 16;
  tempArea.base = static_cast<char*>(AllocateBlock(16));
}

void StopStringArea() {
  if (!stringHeap) return;
  sys::HeapFree(stringHeap, 0, tempArea.base);
  sys::HeapDestroy(stringHeap);
  stringHeap = nullptr;
  tempArea = TempStringArea{};
}

std::int32_t AssignString(StringValue* variable, const char16_t* text) {
  if (!text) {
    if (*variable) sys::HeapFree(stringHeap, 0, *variable);
    *variable = nullptr;
    return 2;
  }
  std::size_t length = UnitCount(text);
  std::size_t bytes = 2 * length + 10;
  if (!*variable) {
    *variable = static_cast<char16_t*>(AllocateBlock(bytes));
    CopyChars(*variable, text, static_cast<std::int32_t>(length));
  } else if (LiesIn(text, *variable)) {
    // The variable's own text (or a tail of it): bring it to the front before the block
    // is resized, since a resize may move or cut it.
    std::memmove(*variable, text, 2 * length + 2);
    *variable = static_cast<char16_t*>(ResizeBlock(*variable, bytes));
  } else {
    *variable = static_cast<char16_t*>(ResizeBlock(*variable, bytes));
    CopyChars(*variable, text, static_cast<std::int32_t>(length));
  }
  return static_cast<std::int32_t>(2 * length + 2);
}

char16_t* ReserveTemp(std::int32_t count, std::int32_t at) {
  if (count < 0) count = 0;
  // The test is against the current position, which is never below at.
  std::int64_t need = std::int64_t{tempArea.position} + 2 * std::int64_t{count};
  if (need >= tempArea.capacity - 4) {
    std::int64_t capacity = need + 16384;
    if (capacity > INT32_MAX - 10) StringHeapExhausted();
    tempArea.base =
        static_cast<char*>(ResizeBlock(tempArea.base, static_cast<std::size_t>(capacity) + 10));
    tempArea.capacity = static_cast<std::int32_t>(capacity);
  }
  tempArea.position = at + 2 * count;
  return TempText(at);
}

void AppendTemp(const char16_t* text) {
  if (!text) {
    *TempText(tempArea.position) = 0;
    return;
  }
  auto length = static_cast<std::int32_t>(UnitCount(text));
  CopyChars(ReserveTemp(length, tempArea.position), text, length);
}

std::int32_t StoreTemp(StringValue* variable, std::int32_t start) {
  std::int32_t size = tempArea.position - start;
  if (size < 0) size = 0;
  std::size_t bytes = static_cast<std::size_t>(size) + 10;
  *variable =
      static_cast<char16_t*>(*variable ? ResizeBlock(*variable, bytes) : AllocateBlock(bytes));
  CopyChars(*variable, TempText(start), size / 2);
  tempArea.position = start;
  return start;
}

std::int32_t TempOffsetOf(const void* address) {
  auto at = reinterpret_cast<std::uintptr_t>(address);
  auto base = reinterpret_cast<std::uintptr_t>(tempArea.base);
  if (at < base || at > base + static_cast<std::uintptr_t>(tempArea.position)) return 0;
  return static_cast<std::int32_t>(at - base + 1);
}

char16_t* TempPointerAt(std::int32_t offset) {
  return reinterpret_cast<char16_t*>(tempArea.base + offset - 1);
}

std::int32_t DropTempChars(std::int32_t count) {
  tempArea.position -= 2 * count;
  return 2 * count;
}

std::int32_t ResetTemp(std::int32_t at) {
  tempArea.position = at;
  *TempText(at) = 0;
  return at;
}

void CopyChars(char16_t* destination, const char16_t* source, std::int32_t count) {
  if (count > 0) {
    // Whole pairs of units: an odd count takes source[count] along, and the terminator
    // below replaces it.
    std::size_t pairs = (static_cast<std::size_t>(count) + 1) / 2;
    std::memmove(destination, source, pairs * 4);
  } else {
    count = 0;
  }
  destination[count] = 0;
}

}  // namespace ralto
