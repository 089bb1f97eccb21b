// Numbered, buffered, sequential text files read by lines and written by strings.
#pragma once
#include <cstdint>

#include "platform/types.h"
#include "runtime/strings/object_table.h"
#include "runtime/strings/text_convert.h"

namespace ralto {

// Bytes of buffer every newly opened file gets; 0 makes new files unbuffered.
extern std::int32_t DefaultFileBufferSize;

// Creates the file table; before the first file operation. Without memory for it, every
// later open gives 0.
void InitFileTable();
// number -1 opens a dynamic file whose id is returned. Non-zero on success, 0 on failure;
// a file already open under number is closed first. Encoding UTF-8.
std::intptr_t OpenFileForRead(ObjectId number, const char16_t* name);
// Creates or truncates for reading and writing (second attempt: write-only truncate).
std::intptr_t CreateFileForWrite(ObjectId number, const char16_t* name);
// kind 1 read existing, 2 open or create, 3 create; flags: low 5 bits encoding,
// 0x20000 share read, 0x40000 share all, 0x80000 unbuffered, 0x100000 append (kind 2),
// FileOwnerOnly: a file created or truncated is its owner's alone (it holds a secret);
// FileReplaceWhole (kind 3): written into a new temporary beside name that takes name's place
// when it is closed, whole, so that a reader never sees a part and a link or another user's
// file under name is replaced rather than written through (no temporary: 0).
inline constexpr std::uint32_t FileOwnerOnly = 0x200000;
inline constexpr std::uint32_t FileReplaceWhole = 0x400000;
std::intptr_t OpenFileWithFlags(ObjectId number, const char16_t* name, std::int32_t kind,
                                std::uint32_t flags);
// The next line without its end (CR, LF or CR LF; NUL ends a line too) into the area at at;
// the empty text at the end of the file or for a number that is not open. A line longer than
// 128 MiB ends there. May grow the area, which invalidates addresses into it.
void ReadTextLine(ObjectId number, std::int32_t at);
// options: low 5 bits an encoding for this read, 0x10000 no line-end detection;
// maxUnits -1 for no limit (units: bytes, UTF-16 units or UTF-8 characters). As ReadTextLine.
void ReadTextWithOptions(ObjectId number, std::uint32_t options, std::int32_t maxUnits,
                         std::int32_t at);
// Bytes written or buffered, in the file's encoding, no line end added; 0 when nothing was
// written (number not open, empty text, file opened for reading, failed conversion).
std::int32_t WriteText(ObjectId number, const char16_t* text);
// Flushes and closes; -1 closes every file; a number that is not open is ignored.
void CloseFileSlot(ObjectId number);
void CloseAllFiles();

// One file of the table. readMode 1: bufferCount bytes of read-ahead are still unread, the
// next one at bufferFilled - bufferCount. readMode 0: bufferCount is the room left, the
// first bufferSize - bufferCount bytes wait to be written.
struct SequentialFile {
  sys::HANDLE handle;    // never 0 while open: the table's liveness mark
  std::uint8_t* buffer;  // null: unbuffered
  std::int32_t bufferSize;
  std::int32_t bufferCount;
  std::int32_t bufferFilled;
  std::int32_t readMode;
  TextEncoding encoding;
  std::int32_t readOnly;
  // FileReplaceWhole: the temporary's name and then the file's, in one general-heap block;
  // null otherwise. A failed write keeps the temporary from landing.
  char16_t* landing;
  std::int32_t writeFailed;
};
extern ObjectTable* fileTable;

// The open file under number, or null.
SequentialFile* FindOpenFile(ObjectId number);
// Up to n bytes of a buffered file; fewer only at the end of the file (or a failed read).
std::int32_t BufferedRead(SequentialFile* file, void* destination, std::int32_t n);
// n bytes into a buffered file; 0 when it is read-only. The buffer is never left full.
std::int32_t BufferedWrite(SequentialFile* file, const void* bytes, std::int32_t n);
// Writes the pending bytes; their count, 0 on the read side. Bytes that fail are dropped.
std::int32_t FlushFileBuffer(SequentialFile* file);
// One UTF-8 character's bytes, 0-terminated, into destination (5 bytes). Its length; 0 at
// the end of the file or for a sequence the end cuts off. A stray byte, or a sequence broken
// by a byte that cannot continue it, reads as "?" and that byte is left for the next read.
std::int32_t ReadUtf8Sequence(SequentialFile* file, char* destination);

}  // namespace ralto
