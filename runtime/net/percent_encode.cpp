// URL percent-encoding: the text's bytes in UTF-8 or the ANSI code page, every byte outside
// a fixed safe set written as % and two upper-case hexadecimal digits.
#include "runtime/net/percent_encode.h"

#include <array>
#include <cstring>

#include "platform/heap.h"
#include "runtime/strings/heaps.h"
#include "runtime/strings/string_area.h"
#include "runtime/strings/text_convert.h"

namespace ralto {
namespace {

// The query's own separators (& = ? / # @ ...) are safe on purpose: the updater encodes a
// whole query at once, and they must reach the server as separators.
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

constexpr char HexDigits[] = "0123456789ABCDEF";

}  // namespace

void PercentEncode(const char16_t* text, TextEncoding mode, std::int32_t at) {
  if (!text) {
    ResetTemp(at);
    return;
  }
  // The whole text becomes bytes before the area is written: it may lie at at itself.
  bool utf8 = mode == EncodingUtf8;
  char* bytes = utf8 ? ToUtf8Bytes(text) : ToAnsiBytes(text);
  std::size_t count = std::strlen(bytes);
  auto* output = static_cast<char*>(sys::HeapAlloc(generalHeap, 0, 3 * count + 1));
  if (output) {
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
}

}  // namespace ralto
