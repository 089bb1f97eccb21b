// Comparison, length, left part, integer parsing and search on UTF-16 texts.
#include "runtime/strings/string_ops.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "runtime/strings/string_area.h"

namespace ralto {

std::int32_t StringsEqual(const char16_t* a, const char16_t* b) {
  if (!a) a = u"";
  if (!b) b = u"";
  for (;; ++a, ++b) {
    if (*a != *b) return 0;
    if (*a == 0) return 1;
  }
}

namespace {

// Eight units at once, for the length scan below.
using UnitBlock = std::int16_t __attribute__((vector_size(16), may_alias));

}  // namespace

// Every expression scans its pieces for their length, so the scan takes eight units at a time.
// It reads the whole aligned block that holds the terminator: such a block never reaches into
// another page. The address checker would call the bytes past a shorter allocation an
// overflow, so it stays out of this one function.
__attribute__((no_sanitize_address)) std::int32_t TextLength(const char16_t* text) {
  if (!text) return 0;
  const char16_t* p = text;
  for (; reinterpret_cast<std::uintptr_t>(p) % sizeof(UnitBlock) != 0; ++p) {
    if (*p == 0) return static_cast<std::int32_t>(p - text);
  }
  for (;; p += 8) {
    UnitBlock zeros = *reinterpret_cast<const UnitBlock*>(p) == 0;
    std::uint64_t halves[2];
    std::memcpy(halves, &zeros, sizeof halves);
    if (halves[0] | halves[1]) break;
  }
  while (*p) ++p;
  return static_cast<std::int32_t>(p - text);
}

void LeftChars(const char16_t* text, std::int32_t count, std::int32_t at) {
  std::int32_t length = TextLength(text);
  if (count < 0) count = 0;
  if (count < length) length = count;
  // The text may lie in the area, which the reservation can move.
  std::int32_t offset = TempOffsetOf(text);
  char16_t* destination = ReserveTemp(length, at);
  if (offset != 0) text = TempPointerAt(offset);
  if (text && length > 0) {
    CopyChars(destination, text, length);
  } else {
    *destination = 0;
  }
}

std::int64_t ToInteger(const char16_t* text) {
  if (!text) return 0;
  while (*text == u' ' || *text == u'\t') ++text;
  bool negative = false;
  if (*text == u'-') {
    negative = true;
    ++text;
  } else if (*text == u'+') {
    ++text;
  }
  std::uint64_t value = 0;
  if (*text == u'$') {
    for (++text;; ++text) {
      char16_t c = *text;
      if (c >= u'0' && c <= u'9') {
        value = value * 16 + (c - u'0');
      } else if (c >= u'A' && c <= u'F') {
        value = value * 16 + (c - u'A' + 10);
      } else if (c >= u'a' && c <= u'f') {
        value = value * 16 + (c - u'a' + 10);
      } else {
        break;
      }
    }
  } else if (*text == u'%') {
    for (++text; *text == u'0' || *text == u'1'; ++text) value = value * 2 + (*text - u'0');
  } else {
    for (; *text >= u'0' && *text <= u'9'; ++text) value = value * 10 + (*text - u'0');
  }
  if (negative) value = ~value + 1;
  return static_cast<std::int64_t>(value);
}

std::int32_t FindText(const char16_t* text, const char16_t* pattern) {
  if (!text || !pattern || !*text || !*pattern) return 0;
  std::u16string_view haystack(text);
  std::size_t found = haystack.find(pattern);
  return found == std::u16string_view::npos ? 0 : static_cast<std::int32_t>(found) + 1;
}

}  // namespace ralto
