// Lines and bounded texts read from a sequential file, in UTF-8, ANSI or UTF-16.
#pragma once
#include <cstdint>

#include "runtime/strings/object_table.h"

namespace ralto {

// The options of ReadTextWithOptions. Their low 5 bits are a TextEncoding for this read
// (EncodingDefault: the file's own).
enum ReadOptions : std::uint32_t {
  ReadNoLineEnds = 0x10000,  // CR and LF are text; only NUL, the limit or the end stop a read
};

// The next line without its end (CR, LF or CR LF; NUL ends a line too) into the area at at;
// the empty text at the end of the file or for a number that is not open. A line longer than
// 128 MiB ends there. May grow the area, which invalidates addresses into it.
void ReadTextLine(ObjectId number, std::int32_t at);
// options: ReadOptions or'ed with a TextEncoding; maxUnits -1 for no limit (units: bytes,
// UTF-16 units or UTF-8 characters). As ReadTextLine.
void ReadTextWithOptions(ObjectId number, std::uint32_t options, std::int32_t maxUnits,
                         std::int32_t at);

}  // namespace ralto
