// URL percent-encoding of a text through UTF-8 or ANSI bytes with a fixed set of safe bytes.
#pragma once
#include <cstdint>

#include "runtime/strings/text_convert.h"

namespace ralto {

// The encoded text into the area at at; text may lie in the area at at. EncodingUtf8 encodes
// UTF-8 bytes, any other encoding ANSI bytes. Absent text, or no memory for the result: the
// empty text. May grow the area: addresses into it are invalid afterwards.
void PercentEncode(const char16_t* text, TextEncoding mode, std::int32_t at);
// The same in UTF-8 mode, the form a query is encoded with.
inline void PercentEncode(const char16_t* text, std::int32_t at) {
  PercentEncode(text, EncodingUtf8, at);
}

}  // namespace ralto
