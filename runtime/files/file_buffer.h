// What the writer and the line reader of sequential files share: the buffer between a file
// and the system, and the encoding in flags. For runtime/files only.
#pragma once
#include <cstdint>

#include "runtime/files/sequential_file.h"

namespace ralto {

// The TextEncoding in the low 5 bits of FileFlags and ReadOptions.
inline TextEncoding EncodingIn(std::uint32_t flags) {
  return static_cast<TextEncoding>(flags & 31);
}

// Up to n bytes, through the buffer when the file has one; fewer only at the end of the file
// or on a failed read.
std::int32_t BufferedRead(SequentialFile* file, void* destination, std::int32_t n);
// Returns the last count bytes read to the file, so that the next read starts with them: from
// the buffer while it still holds them, else by moving the file position back.
void GiveBack(SequentialFile* file, std::int32_t count);
// n bytes through the buffer when the file has one, which is never left full; 0 when the file
// is read-only, fewer when the system takes fewer.
std::int32_t BufferedWrite(SequentialFile* file, const void* bytes, std::int32_t n);
// Writes the pending bytes; their count, 0 on the read side. Bytes that fail are dropped.
std::int32_t FlushFileBuffer(SequentialFile* file);

}  // namespace ralto
