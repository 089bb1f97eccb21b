// Comparison, length, left part, integer parsing and search on UTF-16 texts.
// An absent (null) text reads as the empty text everywhere.
#pragma once
#include <cstdint>

namespace ralto {

// 1 when the texts are equal unit for unit, else 0.
std::int32_t StringsEqual(const char16_t* a, const char16_t* b);
std::int32_t TextLength(const char16_t* text);
// The first count units (negative: none) into the area at at; text may lie in the area.
void LeftChars(const char16_t* text, std::int32_t count, std::int32_t at);
// The leading integer (decimal, $hex or %binary, optional sign); 0 when none; wraps silently.
std::int64_t ToInteger(const char16_t* text);
// 1-based position of the first occurrence of pattern; 0 when absent or either text is empty.
std::int32_t FindText(const char16_t* text, const char16_t* pattern);

}  // namespace ralto
