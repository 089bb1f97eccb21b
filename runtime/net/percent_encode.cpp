// URL percent-encoding: the text's bytes in UTF-8 or the ANSI code page, every byte outside
// a fixed safe set written as % and two upper-case hexadecimal digits.
#include "runtime/net/percent_encode.h"

#include <array>
#include <climits>
#include <cstring>

#include "platform/heap.h"
#include "runtime/strings/heaps.h"
#include "runtime/strings/string_area.h"
#include "runtime/strings/text_convert.h"

namespace ralto {
namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

using SafeBytes = std::array<bool, 256>;

// The whole-query set lets the separators (& = ? / # @ ...) through, as they must stay when a
// query already assembled is encoded.
constexpr SafeBytes MakeSafeBytes(PercentScope scope) {
  SafeBytes safe{};
  for (int b = '0'; b <= '9'; ++b) safe[b] = true;
  for (int b = 'A'; b <= 'Z'; ++b) safe[b] = true;
  for (int b = 'a'; b <= 'z'; ++b) safe[b] = true;
  for (char c : {'-', '.', '_', '~', '!', '\'', '(', ')', '*', '#', '$', '&', ',', '/', ':', ';',
                 '=', '?', '@'}) {
    safe[static_cast<unsigned char>(c)] = true;
  }
  if (scope == PercentQueryValue) safe['&'] = safe['#'] = safe['='] = false;
  return safe;
}

constexpr SafeBytes SafeBytesOf[] = {MakeSafeBytes(PercentWholeQuery),
                                     MakeSafeBytes(PercentQueryValue)};

constexpr int CountSafe(const SafeBytes& table) {
  int count = 0;
  for (bool safe : table) count += safe ? 1 : 0;
  return count;
}
static_assert(CountSafe(SafeBytesOf[PercentWholeQuery]) == 81);
static_assert(CountSafe(SafeBytesOf[PercentQueryValue]) == 78);

}  // namespace

bool PercentEncode(const char16_t* text, TextEncoding mode, std::int32_t at, PercentScope scope) {
  // The whole text becomes bytes before the area is written: it may lie at at itself.
  const bool utf8 = mode == EncodingUtf8;
  char* bytes = utf8 ? ToUtf8Bytes(text) : ToAnsiBytes(text);
  const std::size_t count = bytes ? std::strlen(bytes) : 0;
  // Three units a byte at most, and the area counts its units in an int.
  auto* output = bytes && count <= INT_MAX / 3
                     ? static_cast<char*>(sys::HeapAlloc(generalHeap, 0, 3 * count + 1))
                     : nullptr;
  const bool encoded = output != nullptr;
  if (encoded) {
    const SafeBytes& safe = SafeBytesOf[scope];
    char* out = output;
    for (std::size_t i = 0; i < count; ++i) {
      auto b = static_cast<unsigned char>(bytes[i]);
      if (safe[b]) {
        *out++ = static_cast<char>(b);
      } else {
        out[0] = '%';
        out[1] = HexDigits[b >> 4];
        out[2] = HexDigits[b & 15];
        out += 3;
      }
    }
    *out = 0;
    AnsiToTemp(output, at);
    sys::HeapFree(generalHeap, 0, output);
  } else {
    ResetTemp(at);
  }
  if (utf8) {
    FreeUtf8Bytes(bytes);
  } else {
    FreeAnsiBytes(bytes);
  }
  return encoded;
}

}  // namespace ralto
