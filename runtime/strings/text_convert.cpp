// UTF-16 texts to and from byte strings in UTF-8 and the ANSI code page.
#include "runtime/strings/text_convert.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/text_codec.h"
#include "runtime/strings/string_area.h"
#include "runtime/strings/string_ops.h"

namespace ralto {
namespace {

char* ToBytes(sys::UINT codePage, const char16_t* text) {
  if (!text) text = u"";
  std::int32_t units = TextLength(text) + 1;
  int size = sys::WideCharToMultiByte(codePage, 0, text, units, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return nullptr;
  auto* bytes = static_cast<char*>(std::malloc(static_cast<std::size_t>(size) + 1));
  if (!bytes) return nullptr;
  int written = sys::WideCharToMultiByte(codePage, 0, text, units, bytes, size, nullptr, nullptr);
  if (written <= 0) {
    std::free(bytes);
    return nullptr;
  }
  bytes[written] = 0;
  return bytes;
}

}  // namespace

void AnsiToTemp(const char* bytes, std::int32_t at) {
  std::size_t length = bytes ? std::strlen(bytes) : 0;
  if (length == 0 || length > INT_MAX) {
    ResetTemp(at);
    return;
  }
  int count = static_cast<int>(length);
  int n = sys::MultiByteToWideChar(sys::CP_ACP, 0, bytes, count, nullptr, 0);
  if (n <= 0) {
    ResetTemp(at);
    return;
  }
  char16_t* destination = ReserveTemp(n, at);
  int produced = sys::MultiByteToWideChar(sys::CP_ACP, 0, bytes, count, destination, n);
  destination[produced] = 0;
  DropTempChars(n - produced);
}

void Utf8ToTemp(const char* bytes, std::int32_t at) {
  if (!bytes) bytes = "";
  int n = sys::MultiByteToWideChar(sys::CP_UTF8, 0, bytes, -1, nullptr, 0);
  if (n <= 0) {
    ResetTemp(at);
    return;
  }
  char16_t* destination = ReserveTemp(n - 1, at);
  if (sys::MultiByteToWideChar(sys::CP_UTF8, 0, bytes, -1, destination, n) != n) {
    ResetTemp(at);
  }
}

char* ToAnsiBytes(const char16_t* text) {
  return ToBytes(sys::CP_ACP, text);
}

char* ToUtf8Bytes(const char16_t* text) {
  return ToBytes(sys::CP_UTF8, text);
}

void FreeAnsiBytes(char* bytes) {
  std::free(bytes);
}

void FreeUtf8Bytes(char* bytes) {
  std::free(bytes);
}

}  // namespace ralto
