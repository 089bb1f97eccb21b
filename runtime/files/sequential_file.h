// Numbered, buffered, sequential text files written by strings (line_reader.h reads them).
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

// The opens give 0 on failure and a non-zero value on success, to be tested against 0 only:
// for number -1 the id of the new dynamic file, for any other number the file's system handle.
// A file already open under number is closed first, even when the open then fails.
// A file another process holds without sharing is waited for, about 2 s at most. A file
// opened with FileOwnerOnly when that security cannot be had is not opened.
// An existing file for reading, UTF-8; other processes may read it meanwhile.
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
// Bytes written or buffered, in the file's encoding, no line end added; 0 when nothing was
// written (number not open, empty text, file opened for reading, failed conversion). A text
// not written whole, for whatever reason, keeps a FileReplaceWhole file from landing.
std::int32_t WriteText(ObjectId number, const char16_t* text);
// Flushes and closes; -1 closes every file; a number that is not open is ignored. 0 when a
// FileReplaceWhole file did not take its name's place (a write failed, or the rename did), else
// 1.
std::int32_t CloseFileSlot(ObjectId number);
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

}  // namespace ralto
