// URL percent-encoding of a text through UTF-8 or ANSI bytes with a fixed set of safe bytes.
#pragma once
#include <cstdint>

#include "runtime/strings/text_convert.h"

namespace ralto {

// What the text is: a query's own separators (& # =) stay in a whole query and are escaped in
// one value of it, where they would split the query or cut it off.
enum PercentScope : std::uint8_t { PercentWholeQuery, PercentQueryValue };

// The encoded text into the area at at; text may lie in the area at at. EncodingUtf8 encodes
// UTF-8 bytes, any other encoding ANSI bytes; absent text encodes as the empty text. False
// when the text cannot be encoded (no memory for its bytes or the result, a result too long
// for the area): the empty text is then left at at, so a caller tells a failure from an
// empty result by this answer alone. May grow the area: addresses into it are invalid
// afterwards.
[[nodiscard]] bool PercentEncode(const char16_t* text, TextEncoding mode, std::int32_t at,
                                 PercentScope scope = PercentWholeQuery);

}  // namespace ralto
