// Conversions between UTF-16 texts and byte strings in UTF-8 or the ANSI code page.
#pragma once
#include <cstdint>

namespace ralto {

// A text encoding; any value not named here is the ANSI code page. In a file's flags and a
// read's options EncodingDefault is none given: UTF-8 for an open, the file's own for a read.
enum TextEncoding : std::int32_t {
  EncodingDefault = 0,
  EncodingUtf8 = 2,
  EncodingAnsi = 24,
  EncodingUtf16 = 25,
};

// The bytes (0-terminated; absent: empty) as a text in the area at at; the empty text when
// they cannot be converted.
void AnsiToTemp(const char* bytes, std::int32_t at);
void Utf8ToTemp(const char* bytes, std::int32_t at);
// A new 0-terminated byte string from malloc (absent text: the empty string); null when the
// text cannot be converted (no memory, or more bytes than an int counts), so that a failure
// never passes for an empty text. Release with the matching Free function.
[[nodiscard]] char* ToAnsiBytes(const char16_t* text);
[[nodiscard]] char* ToUtf8Bytes(const char16_t* text);
void FreeAnsiBytes(char* bytes);
void FreeUtf8Bytes(char* bytes);

}  // namespace ralto
