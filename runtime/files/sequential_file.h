// Numbered, buffered, sequential text files read by lines and written by strings.
#pragma once
#include <cstdint>

#include "runtime/strings/object_table.h"

namespace ralto {

// Bytes of buffer every newly opened file gets; 0 makes new files unbuffered.
extern std::int32_t DefaultFileBufferSize;

// Creates the file table; before the first file operation.
void InitFileTable();
// number -1 opens a dynamic file whose id is returned. Non-zero on success, 0 on failure;
// a file already open under number is closed first. Encoding UTF-8.
std::intptr_t OpenFileForRead(ObjectId number, const char16_t* name);
// Creates or truncates for reading and writing (second attempt: write-only truncate).
std::intptr_t CreateFileForWrite(ObjectId number, const char16_t* name);
// kind 1 read existing, 2 open or create, 3 create; flags: low 5 bits encoding,
// 0x20000 share read, 0x40000 share all, 0x80000 unbuffered, 0x100000 append (kind 2).
std::intptr_t OpenFileWithFlags(ObjectId number, const char16_t* name, std::int32_t kind,
                                std::uint32_t flags);
// The next line without its end (CR, LF or CR LF; NUL ends a line too) into the area at at;
// the empty text at the end of the file or for a number that is not open.
void ReadTextLine(ObjectId number, std::int32_t at);
// options: low 5 bits an encoding for this read, 0x10000 no line-end detection;
// maxUnits -1 for no limit.
void ReadTextWithOptions(ObjectId number, std::uint32_t options, std::int32_t maxUnits,
                         std::int32_t at);
// Bytes written or buffered; 0 when nothing was written.
std::int32_t WriteText(ObjectId number, const char16_t* text);
// Flushes and closes; -1 closes every file; a number that is not open is ignored.
void CloseFileSlot(ObjectId number);
void CloseAllFiles();

}  // namespace ralto
