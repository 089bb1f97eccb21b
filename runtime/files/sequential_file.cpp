// Numbered, buffered, sequential files: the file table, opening and closing, the buffer
// between the caller and the system, and texts written.
#include "runtime/files/sequential_file.h"

#include <algorithm>
#include <cstring>

#include "platform/file_io.h"
#include "platform/heap.h"
#include "platform/text_codec.h"
#include "runtime/files/file_buffer.h"
#include "runtime/files/held_file.h"
#include "runtime/files/temporary_file.h"
#include "runtime/strings/heaps.h"
#include "runtime/strings/string_area.h"
#include "runtime/strings/string_ops.h"

namespace ralto {

std::int32_t DefaultFileBufferSize = 4096;
ObjectTable* fileTable = nullptr;

namespace {

bool openFoundFileHeld = false;

constexpr std::int32_t FileTableStep = 16;
constexpr std::int32_t ShortTextBytes = 256;

struct OpenMode {
  sys::DWORD access;
  sys::DWORD creation;
  bool truncateOnRetry;  // a create falls back to truncating for writing only
  bool readOnly;
};

constexpr OpenMode ExistingMode{sys::GENERIC_READ, sys::OPEN_EXISTING, false, true};
constexpr OpenMode OpenOrCreateMode{sys::GENERIC_READ | sys::GENERIC_WRITE, sys::OPEN_ALWAYS, false,
                                    false};
constexpr OpenMode CreateMode{sys::GENERIC_READ | sys::GENERIC_WRITE, sys::CREATE_ALWAYS, true,
                              false};

std::int32_t ReadDirect(SequentialFile* file, void* destination, std::int32_t n) {
  sys::DWORD got = 0;
  sys::ReadFile(file->handle, destination, static_cast<sys::DWORD>(n), &got, nullptr);
  return static_cast<std::int32_t>(got);
}

std::int32_t WriteDirect(SequentialFile* file, const void* bytes, std::int32_t n) {
  sys::DWORD written = 0;
  sys::WriteFile(file->handle, bytes, static_cast<sys::DWORD>(n), &written, nullptr);
  if (written < static_cast<sys::DWORD>(n)) file->writeFailed = 1;
  return static_cast<std::int32_t>(written);
}

// Always 0, the count of bytes written.
std::int32_t MarkWriteFailed(SequentialFile* file) {
  file->writeFailed = 1;
  return 0;
}

// Writes n bytes of a text through the buffer (or straight); fewer, a read-only file
// included, mark the file.
std::int32_t WriteWhole(SequentialFile* file, const void* bytes, std::int32_t n) {
  std::int32_t written = BufferedWrite(file, bytes, n);
  if (written < n) file->writeFailed = 1;
  return written;
}

// The temporary a FileReplaceWhole file is written into, with the names it lands by in one
// block; INVALID_HANDLE_VALUE when name cannot be replaced or no temporary can be made.
sys::HANDLE CreateLandingFile(const char16_t* name, void* security, char16_t** landing) {
  *landing = nullptr;
  char16_t temporary[TemporaryNameUnits];
  sys::HANDLE handle = CreateTemporaryBeside(name, security, temporary);
  if (handle == sys::INVALID_HANDLE_VALUE) return handle;
  const std::size_t temporaryUnits = static_cast<std::size_t>(TextLength(temporary)) + 1;
  const std::size_t nameUnits = static_cast<std::size_t>(TextLength(name)) + 1;
  *landing = static_cast<char16_t*>(
      sys::HeapAlloc(generalHeap, 0, (temporaryUnits + nameUnits) * sizeof(char16_t)));
  if (!*landing) {
    sys::CloseHandle(handle);
    RemoveTemporary(temporary);
    return sys::INVALID_HANDLE_VALUE;
  }
  std::memcpy(*landing, temporary, temporaryUnits * sizeof(char16_t));
  std::memcpy(*landing + temporaryUnits, name, nameUnits * sizeof(char16_t));
  return handle;
}

void MoveFilePosition(sys::HANDLE handle, std::int64_t distance) {
  auto low = static_cast<sys::LONG>(static_cast<std::uint32_t>(distance));
  auto high = static_cast<sys::LONG>(distance >> 32);
  sys::SetFilePointer(handle, low, &high, sys::FILE_CURRENT);
}

// flags: FileFlags or'ed with a TextEncoding, checked against mode by the caller.
std::intptr_t OpenFile(ObjectId number, const char16_t* name, const OpenMode& mode,
                       std::uint32_t flags) {
  const sys::DWORD shareMode =
      (flags & FileShareAll) ? sys::FILE_SHARE_READ | sys::FILE_SHARE_WRITE | sys::FILE_SHARE_DELETE
      : (flags & FileShareRead) ? sys::FILE_SHARE_READ
                                : 0;
  const bool ownerOnly = flags & FileOwnerOnly;
  const bool replaceWhole = flags & FileReplaceWhole;
  void* security = ownerOnly ? sys::OwnerOnlySecurity() : nullptr;
  if (!fileTable) return 0;
  void* storage = ObtainObject(fileTable, number);
  if (!storage) return 0;
  ObjectId id = number == -1 ? reinterpret_cast<ObjectId>(storage) : number;

  openFoundFileHeld = false;
  char16_t* landing = nullptr;
  sys::HANDLE handle = sys::INVALID_HANDLE_VALUE;
  // A secret goes into no file that others might read: without the owner-only security there
  // is no file at all.
  const bool secured = !ownerOnly || security;
  if (secured && replaceWhole) {
    handle = CreateLandingFile(name, security, &landing);
  } else if (secured) {
    // Another process holding the file for a moment is waited for, and one holding it longer
    // is told from a missing file (and not waited for twice).
    handle = OpenFileWaiting(name, mode.access, shareMode, security, mode.creation,
                             &openFoundFileHeld);
    if (handle == sys::INVALID_HANDLE_VALUE && mode.truncateOnRetry && !openFoundFileHeld) {
      handle = OpenFileWaiting(name, sys::GENERIC_WRITE, shareMode, security,
                               sys::TRUNCATE_EXISTING);
    }
  }
  if (handle == sys::INVALID_HANDLE_VALUE || !handle) {
    ReleaseObject(fileTable, id);
    return 0;
  }

  auto* file = static_cast<SequentialFile*>(storage);
  file->handle = handle;
  file->buffer = nullptr;
  if (!(flags & FileUnbuffered) && DefaultFileBufferSize > 0) {
    // Without memory for a buffer the file still works, one system call per unit.
    file->buffer = static_cast<std::uint8_t*>(
        sys::HeapAlloc(generalHeap, 0, static_cast<std::size_t>(DefaultFileBufferSize)));
  }
  file->bufferSize = DefaultFileBufferSize;
  file->bufferCount = 0;
  file->readMode = 1;
  file->encoding = EncodingIn(flags) == EncodingDefault ? EncodingUtf8 : EncodingIn(flags);
  file->readOnly = mode.readOnly ? 1 : 0;
  file->landing = landing;
  file->writeFailed = 0;
  if (flags & FileAppend) sys::SetFilePointer(handle, 0, nullptr, sys::FILE_END);
  return number == -1 ? id : reinterpret_cast<std::intptr_t>(handle);
}

}  // namespace

bool OpenFoundFileHeld() {
  return openFoundFileHeld;
}

void InitFileTable() {
  fileTable = CreateObjectTable(sizeof(SequentialFile), FileTableStep,
                                [](ObjectId number) { CloseFileSlot(number); });
}

SequentialFile* FindOpenFile(ObjectId number) {
  if (!fileTable) return nullptr;
  return static_cast<SequentialFile*>(LookupObject(fileTable, number));
}

std::intptr_t OpenFileForRead(ObjectId number, const char16_t* name) {
  // Others may read along (a backup agent, the indexer, an editor): only a writer is waited for.
  return OpenFile(number, name, ExistingMode, std::uint32_t{EncodingUtf8} | FileShareRead);
}

std::intptr_t CreateFileForWrite(ObjectId number, const char16_t* name) {
  return OpenFile(number, name, CreateMode, EncodingUtf8);
}

std::intptr_t OpenFileWithFlags(ObjectId number, const char16_t* name, FileOpenKind kind,
                                std::uint32_t flags) {
  const OpenMode* mode = kind == OpenExisting   ? &ExistingMode
                         : kind == OpenOrCreate ? &OpenOrCreateMode
                         : kind == OpenCreate   ? &CreateMode
                                                : nullptr;
  if (kind != OpenOrCreate) flags &= ~std::uint32_t{FileAppend};
  if (!mode || ((flags & FileReplaceWhole) && kind != OpenCreate)) {
    // The number is given up as for any failed open; there is no file to open.
    if (fileTable && number >= 0 && ObtainObject(fileTable, number))
      ReleaseObject(fileTable, number);
    return 0;
  }
  return OpenFile(number, name, *mode, flags);
}

std::int32_t BufferedRead(SequentialFile* file, void* destination, std::int32_t n) {
  if (n <= 0) return 0;
  if (!file->buffer) return ReadDirect(file, destination, n);
  if (file->readMode == 0) {
    FlushFileBuffer(file);
    file->readMode = 1;
    file->bufferCount = 0;
    file->bufferFilled = 0;
  }
  auto* out = static_cast<std::uint8_t*>(destination);
  const std::uint8_t* next = file->buffer + (file->bufferFilled - file->bufferCount);
  if (file->bufferCount >= n) {
    if (n == 1) {
      *out = *next;
    } else {
      std::memcpy(out, next, static_cast<std::size_t>(n));
    }
    file->bufferCount -= n;
    return n;
  }
  std::int32_t copied = file->bufferCount;
  std::memcpy(out, next, static_cast<std::size_t>(copied));
  file->bufferCount = 0;
  std::int32_t wanted = n - copied;
  if (wanted >= file->bufferSize) {
    file->bufferFilled = 0;  // the buffer holds nothing that can be given back
    return copied + ReadDirect(file, out + copied, wanted);
  }
  std::int32_t got = ReadDirect(file, file->buffer, file->bufferSize);
  file->bufferCount = file->bufferFilled = got;
  std::int32_t taken = std::min(wanted, got);
  std::memcpy(out + copied, file->buffer, static_cast<std::size_t>(taken));
  file->bufferCount -= taken;
  return copied + taken;
}

void GiveBack(SequentialFile* file, std::int32_t count) {
  if (file->buffer && file->bufferFilled - file->bufferCount >= count) {
    file->bufferCount += count;
    return;
  }
  std::int64_t unread = file->buffer ? file->bufferCount : 0;
  MoveFilePosition(file->handle, -(unread + count));
  if (file->buffer) {
    file->bufferCount = 0;
    file->bufferFilled = 0;
  }
}

std::int32_t BufferedWrite(SequentialFile* file, const void* bytes, std::int32_t n) {
  if (file->readOnly || n <= 0) return 0;
  if (!file->buffer) return WriteDirect(file, bytes, n);
  if (file->readMode == 1) {
    // The system position is ahead of the reader by the unread read-ahead; writing goes on
    // right behind the last byte the reader consumed.
    if (file->bufferCount > 0) MoveFilePosition(file->handle, -std::int64_t{file->bufferCount});
    file->readMode = 0;
    file->bufferCount = file->bufferSize;
    file->bufferFilled = 0;
  }
  if (file->bufferCount > n) {
    std::memcpy(file->buffer + (file->bufferSize - file->bufferCount), bytes,
                static_cast<std::size_t>(n));
    file->bufferCount -= n;
    return n;
  }
  FlushFileBuffer(file);
  if (n >= file->bufferSize) return WriteDirect(file, bytes, n);
  std::memcpy(file->buffer, bytes, static_cast<std::size_t>(n));
  file->bufferCount = file->bufferSize - n;
  return n;
}

std::int32_t FlushFileBuffer(SequentialFile* file) {
  if (file->readMode != 0 || !file->buffer) return 0;
  std::int32_t pending = file->bufferSize - file->bufferCount;
  std::int32_t written = pending > 0 ? WriteDirect(file, file->buffer, pending) : 0;
  file->bufferCount = file->bufferSize;
  return written;
}

std::int32_t WriteText(ObjectId number, const char16_t* text) {
  SequentialFile* file = FindOpenFile(number);
  if (!file) return 0;
  std::int32_t length = TextLength(text);
  if (length <= 0) return 0;
  // From here every text that is not written whole marks the file: a log with a piece
  // missing must never land.
  const void* bytes = text;
  std::int32_t count = 0;
  char* converted = nullptr;
  if (file->encoding == EncodingUtf16) {
    if (length > INT32_MAX / 2) return MarkWriteFailed(file);
    count = 2 * length;
  } else {
    sys::UINT codePage = file->encoding == EncodingUtf8 ? sys::CP_UTF8 : sys::CP_ACP;
    // A short text is converted once into a block on the stack: at most 3 bytes a unit.
    char shortBytes[ShortTextBytes];
    if (length <= (ShortTextBytes - 1) / 3) {
      int size = sys::WideCharToMultiByte(codePage, 0, text, length + 1, shortBytes, ShortTextBytes,
                                          nullptr, nullptr);
      if (size <= 1) return MarkWriteFailed(file);
      return WriteWhole(file, shortBytes, size - 1);
    }
    int size = sys::WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return MarkWriteFailed(file);
    converted =
        static_cast<char*>(sys::HeapAlloc(generalHeap, 0, static_cast<std::size_t>(size) + 1));
    if (!converted) return MarkWriteFailed(file);
    size = sys::WideCharToMultiByte(codePage, 0, text, -1, converted, size, nullptr, nullptr);
    bytes = converted;
    count = size > 0 ? size - 1 : 0;
  }
  std::int32_t written = count > 0 ? WriteWhole(file, bytes, count) : MarkWriteFailed(file);
  if (converted) sys::HeapFree(generalHeap, 0, converted);
  return written;
}

std::int32_t CloseFileSlot(ObjectId number) {
  if (!fileTable) return 1;
  if (number == -1) {
    ReleaseAllObjects(fileTable);
    return 1;
  }
  SequentialFile* file = FindOpenFile(number);
  if (!file) return 1;
  std::int32_t landed = 1;
  if (file->buffer) {
    FlushFileBuffer(file);
    sys::HeapFree(generalHeap, 0, file->buffer);
  }
  sys::CloseHandle(file->handle);
  if (file->landing) {
    char16_t* temporary = file->landing;
    if (file->writeFailed) {
      RemoveTemporary(temporary);
      landed = 0;
    } else {
      // One that cannot land leaves the old file whole.
      landed = ReplaceWithTemporary(temporary, temporary + TextLength(temporary) + 1, false);
    }
    sys::HeapFree(generalHeap, 0, file->landing);
  }
  ReleaseObject(fileTable, number);
  return landed;
}

void CloseAllFiles() {
  CloseFileSlot(-1);
}

}  // namespace ralto
