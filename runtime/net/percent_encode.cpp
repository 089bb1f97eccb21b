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

// The safe set lets a query's own separators (& = ? / # @ ...) through, as they must stay when a
// whole query is encoded. The updater encodes each value on its own and escapes the ones that
// would split its query itself (update_url.cpp).
constexpr std::array<bool, 256> MakeUrlSafeBytes() {
  std::array<bool, 256> safe{};
  for (int b = '0'; b <= '9'; ++b) safe[b] = true;
  for (int b = 'A'; b <= 'Z'; ++b) safe[b] = true;
  for (int b = 'a'; b <= 'z'; ++b) safe[b] = true;
  for (char c : {'-', '.', '_', '~', '!', '\'', '(', ')', '*', '#', '$', '&', ',', '/', ':', ';',
                 '=', '?', '@'}) {
    safe[static_cast<unsigned char>(c)] = true;
  }
  return safe;
}

constexpr std::array<bool, 256> UrlSafeBytes = MakeUrlSafeBytes();

constexpr int CountSafe() {
  int count = 0;
  for (bool safe : UrlSafeBytes) count += safe ? 1 : 0;
  return count;
}
static_assert(CountSafe() == 81);

}  // namespace

bool PercentEncode(const char16_t* text, TextEncoding mode, std::int32_t at) {
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
    char* out = output;
    for (std::size_t i = 0; i < count; ++i) {
      auto b = static_cast<unsigned char>(bytes[i]);
      if (UrlSafeBytes[b]) {
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
