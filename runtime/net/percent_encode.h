// URL percent-encoding of a text through UTF-8 or ANSI bytes with a fixed set of safe bytes.
#pragma once
#include <cstdint>

namespace ralto {

// The encoded text into the area at at; text may lie in the area at at. mode 2 encodes
// UTF-8 bytes, any other mode ANSI bytes. Absent text, or no memory for the result: the
// empty text. May grow the area: addresses into it are invalid afterwards.
void PercentEncode(const char16_t* text, std::int32_t mode, std::int32_t at);
// The same in UTF-8 mode, the form a query is encoded with.
inline void PercentEncode(const char16_t* text, std::int32_t at) {
  PercentEncode(text, 2, at);
}

}  // namespace ralto
