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

// How OpenFileWithFlags opens a file; any other value opens nothing.
enum FileOpenKind : std::int32_t {
  OpenExisting = 1,  // an existing file, for reading only
  OpenOrCreate = 2,  // for reading and writing, created when missing
  OpenCreate = 3,    // created or emptied, for reading and writing
};
// The flags of OpenFileWithFlags. Their low 5 bits are a TextEncoding (EncodingDefault: UTF-8).
enum FileFlags : std::uint32_t {
  FileShareRead = 0x20000,   // others may read the file while it is open
  FileShareAll = 0x40000,    // others may also write, rename and delete it
  FileUnbuffered = 0x80000,  // every read and write goes straight to the system
  FileAppend = 0x100000,     // with OpenOrCreate: writing starts at the end
  FileOwnerOnly = 0x200000,  // a file created or emptied is its owner's alone (it holds a secret)
  // With OpenCreate: written into a new temporary beside name that takes name's place when it
  // is closed, whole, so that a reader never sees a part and a link or another user's file
  // under name is replaced rather than written through (no temporary: 0).
  FileReplaceWhole = 0x400000,
};
// The options of ReadTextWithOptions. Their low 5 bits are a TextEncoding for this read
// (EncodingDefault: the file's own).
enum ReadOptions : std::uint32_t {
  ReadNoLineEnds = 0x10000,  // CR and LF are text; only NUL, the limit or the end stop a read
};

// The opens give 0 on failure and a non-zero value on success, to be tested against 0 only:
// for number -1 the id of the new dynamic file, for any other number the file's system handle.
// A file already open under number is closed first, even when the open then fails.
// A file another process holds without sharing is waited for, about 2 s at most. A file
// opened with FileOwnerOnly when that security cannot be had is not opened.
// An existing file for reading, UTF-8.
std::intptr_t OpenFileForRead(ObjectId number, const char16_t* name);
// OpenCreate, UTF-8; an existing file that cannot be opened for reading as well is emptied
// for writing only.
std::intptr_t CreateFileForWrite(ObjectId number, const char16_t* name);
// flags: FileFlags or'ed with a TextEncoding.
std::intptr_t OpenFileWithFlags(ObjectId number, const char16_t* name, FileOpenKind kind,
                                std::uint32_t flags);
// Whether the last open gave 0 because another process held the file for longer than it
// waits: the file is there, but what it holds cannot be known now.
bool OpenFoundFileHeld();
// The next line without its end (CR, LF or CR LF; NUL ends a line too) into the area at at;
// the empty text at the end of the file or for a number that is not open. A line longer than
// 128 MiB ends there. May grow the area, which invalidates addresses into it.
void ReadTextLine(ObjectId number, std::int32_t at);
// options: ReadOptions or'ed with a TextEncoding; maxUnits -1 for no limit (units: bytes,
// UTF-16 units or UTF-8 characters). As ReadTextLine.
void ReadTextWithOptions(ObjectId number, std::uint32_t options, std::int32_t maxUnits,
                         std::int32_t at);
// Bytes written or buffered, in the file's encoding, no line end added; 0 when nothing was
// written (number not open, empty text, file opened for reading, failed conversion). A text
// not written whole, for whatever reason, keeps a FileReplaceWhole file from landing.
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
