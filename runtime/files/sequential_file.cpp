// Numbered, buffered, sequential files: the file table, opening and closing, the buffer
// between the caller and the system, lines read in three encodings and texts written.
#include "runtime/files/sequential_file.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/file_io.h"
#include "platform/heap.h"
#include "platform/text_codec.h"
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
constexpr std::uint32_t EncodingMask = 31;

constexpr std::size_t LineStep = 4096;
constexpr std::int32_t ShortTextBytes = 256;
// A line longer than this ends there; the rest comes with the next read. The string area
// holds less than 2 GiB and stops the process beyond: a line from a server must fit there as
// UTF-16 next to its percent-encoded form (up to three units a byte).
constexpr std::size_t MaxLineBytes = std::size_t{1} << 27;

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
  std::int32_t written = file->buffer ? BufferedWrite(file, bytes, n) : WriteDirect(file, bytes, n);
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

std::int32_t ReadUnit(SequentialFile* file, void* destination, std::int32_t n) {
  return file->buffer ? BufferedRead(file, destination, n) : ReadDirect(file, destination, n);
}

// Returns the last count consumed bytes to the file, so that the next read starts with them.
// They are taken from the buffer when it still holds them, else from the file position
// (a unit that straddled a refill, or one read past the buffer).
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

std::intptr_t OpenFile(ObjectId number, const char16_t* name, const OpenMode& mode,
                       sys::DWORD shareMode, TextEncoding encoding, bool buffered, bool append,
                       bool ownerOnly = false, bool replaceWhole = false) {
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
    // is told from a missing file.
    openFoundFileHeld = RetryWhileHeld(name, HeldBySharing, [&] {
                          handle = sys::CreateFileW(name, mode.access, shareMode, security,
                                                    mode.creation, sys::FILE_ATTRIBUTE_NORMAL,
                                                    nullptr);
                          return handle != sys::INVALID_HANDLE_VALUE;
                        }) == HeldStillHeld;
    if (handle == sys::INVALID_HANDLE_VALUE && mode.truncateOnRetry) {
      handle = sys::CreateFileW(name, sys::GENERIC_WRITE, shareMode, security,
                                sys::TRUNCATE_EXISTING, 0, nullptr);
    }
  }
  if (handle == sys::INVALID_HANDLE_VALUE || !handle) {
    ReleaseObject(fileTable, id);
    return 0;
  }

  auto* file = static_cast<SequentialFile*>(storage);
  file->handle = handle;
  file->buffer = nullptr;
  if (buffered && DefaultFileBufferSize > 0) {
    // Without memory for a buffer the file still works, one system call per unit.
    file->buffer = static_cast<std::uint8_t*>(
        sys::HeapAlloc(generalHeap, 0, static_cast<std::size_t>(DefaultFileBufferSize)));
  }
  file->bufferSize = DefaultFileBufferSize;
  file->bufferCount = 0;
  file->readMode = 1;
  file->encoding = encoding;
  file->readOnly = mode.readOnly ? 1 : 0;
  file->landing = landing;
  file->writeFailed = 0;
  if (append) sys::SetFilePointer(handle, 0, nullptr, sys::FILE_END);
  return number == -1 ? id : reinterpret_cast<std::intptr_t>(handle);
}

struct LineBuffer {
  std::uint8_t* bytes;
  std::size_t size;
  std::size_t count;
};

// Room for more bytes and a 2-byte terminator behind them; false when the line cannot grow.
// Grows by at least half its size, so that a long line costs linear time.
bool MakeRoom(LineBuffer& line, std::size_t more) {
  std::size_t need = line.count + more + 2;
  if (need <= line.size) return true;
  if (need > MaxLineBytes) return false;
  std::size_t size = std::max(need, line.size + line.size / 2);
  size = std::min((size + LineStep - 1) / LineStep * LineStep, MaxLineBytes);
  void* grown = sys::HeapReAlloc(generalHeap, 0, line.bytes, size);
  if (!grown) return false;
  line.bytes = static_cast<std::uint8_t*>(grown);
  line.size = size;
  return true;
}

constexpr std::uint64_t EveryByte(std::uint8_t value) {
  return 0x0101010101010101u * value;
}

// The high bit of the lowest byte of word that is 0 is set (bits above it may be, too).
constexpr std::uint64_t ZeroBytes(std::uint64_t word) {
  return (word - EveryByte(1)) & ~word & EveryByte(0x80);
}

// Length of the leading run of bytes that are not NUL, LF or CR (and for UTF-8 below 0x80),
// eight bytes at a time.
std::size_t PlainRunLength(const std::uint8_t* bytes, std::size_t available, bool ansi) {
  std::size_t run = 0;
  if constexpr (std::endian::native == std::endian::little) {
    const std::uint64_t highBits = ansi ? 0 : EveryByte(0x80);
    for (; run + 8 <= available; run += 8) {
      std::uint64_t word;
      std::memcpy(&word, bytes + run, sizeof word);
      std::uint64_t stops = ZeroBytes(word) | ZeroBytes(word ^ EveryByte('\n')) |
                            ZeroBytes(word ^ EveryByte('\r')) | (word & highBits);
      if (stops) return run + static_cast<std::size_t>(std::countr_zero(stops)) / 8;
    }
  }
  for (; run < available; ++run) {
    std::uint8_t byte = bytes[run];
    if (byte == 0 || byte == '\n' || byte == '\r' || (!ansi && byte >= 0x80)) break;
  }
  return run;
}

// Moves the run of bytes at the read position that cannot end a line or start a multi-byte
// character straight from the buffer into the line; the unit-by-unit reader does the rest.
// Returns the number of bytes taken (at most limit).
std::size_t TakePlainRun(SequentialFile* file, LineBuffer& line, bool ansi, std::int64_t limit) {
  if (!file->buffer || file->readMode != 1 || file->bufferCount <= 0) return 0;
  const std::uint8_t* next = file->buffer + (file->bufferFilled - file->bufferCount);
  std::size_t available = static_cast<std::size_t>(file->bufferCount);
  if (limit >= 0) available = std::min(available, static_cast<std::size_t>(limit));
  std::size_t run = PlainRunLength(next, available, ansi);
  if (run == 0 || !MakeRoom(line, run)) return 0;
  std::memcpy(line.bytes + line.count, next, run);
  line.count += run;
  file->bufferCount -= static_cast<std::int32_t>(run);
  return run;
}

// Bytes of the line end at bytes: 1 for LF, 2 for CR LF, 1 for a CR followed by another
// byte (which stays for the next line); 0 when there is none or available cannot tell.
std::int32_t LineEndLength(const std::uint8_t* bytes, std::int32_t available) {
  if (available >= 1 && bytes[0] == '\n') return 1;
  if (available >= 2 && bytes[0] == '\r') return bytes[1] == '\n' ? 2 : 1;
  return 0;
}

// Ends the line at a line end that the buffer holds whole; false when the unit-by-unit
// reader has to decide.
bool TakeLineEnd(SequentialFile* file) {
  if (!file->buffer || file->readMode != 1) return false;
  std::int32_t length =
      LineEndLength(file->buffer + (file->bufferFilled - file->bufferCount), file->bufferCount);
  file->bufferCount -= length;
  return length > 0;
}

// Units 0-127 are their own UTF-16 units: no decoder needed.
void WidenAsciiToTemp(const std::uint8_t* bytes, std::size_t count, std::int32_t at) {
  char16_t* out = ReserveTemp(static_cast<std::int32_t>(count), at);
  std::size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    // Four bytes spread into four 16-bit units per step.
    for (; i + 4 <= count; i += 4) {
      std::uint32_t four;
      std::memcpy(&four, bytes + i, sizeof four);
      std::uint64_t units = four;
      units = (units | units << 16) & 0x0000FFFF0000FFFFu;
      units = (units | units << 8) & 0x00FF00FF00FF00FFu;
      std::memcpy(out + i, &units, sizeof units);
    }
  }
  for (; i < count; ++i) out[i] = bytes[i];
  out[count] = 0;
}

// The common line: plain ASCII and its end already in the buffer. It goes from the buffer
// straight into the area. False, with nothing consumed, for every other line.
bool ReadBufferedAsciiLine(SequentialFile* file, std::int64_t limit, std::int32_t at) {
  if (!file->buffer || file->readMode != 1 || file->bufferCount <= 0) return false;
  const std::uint8_t* next = file->buffer + (file->bufferFilled - file->bufferCount);
  std::size_t available = static_cast<std::size_t>(file->bufferCount);
  if (limit >= 0) available = std::min(available, static_cast<std::size_t>(limit));
  auto run = static_cast<std::int32_t>(PlainRunLength(next, available, false));
  std::int32_t end = 0;
  if (limit < 0 || run < limit) {
    end = LineEndLength(next + run, file->bufferCount - run);
    if (end == 0) return false;
  }
  WidenAsciiToTemp(next, static_cast<std::size_t>(run), at);
  file->bufferCount -= run + end;
  return true;
}

}  // namespace

bool OpenFoundFileHeld() {
  return openFoundFileHeld;
}

void InitFileTable() {
  fileTable = CreateObjectTable(sizeof(SequentialFile), FileTableStep, CloseFileSlot);
}

SequentialFile* FindOpenFile(ObjectId number) {
  if (!fileTable) return nullptr;
  return static_cast<SequentialFile*>(LookupObject(fileTable, number));
}

std::intptr_t OpenFileForRead(ObjectId number, const char16_t* name) {
  return OpenFile(number, name, ExistingMode, 0, EncodingUtf8, true, false);
}

std::intptr_t CreateFileForWrite(ObjectId number, const char16_t* name) {
  return OpenFile(number, name, CreateMode, 0, EncodingUtf8, true, false);
}

std::intptr_t OpenFileWithFlags(ObjectId number, const char16_t* name, FileOpenKind kind,
                                std::uint32_t flags) {
  const OpenMode* mode = kind == OpenExisting   ? &ExistingMode
                         : kind == OpenOrCreate ? &OpenOrCreateMode
                         : kind == OpenCreate   ? &CreateMode
                                                : nullptr;
  sys::DWORD shareMode = (flags & FileShareAll)
                             ? sys::FILE_SHARE_READ | sys::FILE_SHARE_WRITE | sys::FILE_SHARE_DELETE
                         : (flags & FileShareRead) ? sys::FILE_SHARE_READ
                                                   : 0;
  TextEncoding encoding = static_cast<TextEncoding>(flags & EncodingMask);
  if (encoding == EncodingDefault) encoding = EncodingUtf8;
  bool append = kind == OpenOrCreate && (flags & FileAppend);
  bool replaceWhole = (flags & FileReplaceWhole) != 0;
  if (!mode || (replaceWhole && kind != OpenCreate)) {
    // The number is given up as for any failed open; there is no file to open.
    if (fileTable && number >= 0 && ObtainObject(fileTable, number))
      ReleaseObject(fileTable, number);
    return 0;
  }
  return OpenFile(number, name, *mode, shareMode, encoding, !(flags & FileUnbuffered), append,
                  (flags & FileOwnerOnly) != 0, replaceWhole);
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

std::int32_t ReadUtf8Sequence(SequentialFile* file, char* destination) {
  std::uint8_t lead;
  if (ReadUnit(file, &lead, 1) != 1) return 0;
  std::int32_t length = lead < 0x80             ? 1
                        : (lead & 0xE0) == 0xC0 ? 2
                        : (lead & 0xF0) == 0xE0 ? 3
                        : (lead & 0xF8) == 0xF0 ? 4
                                                : 0;
  if (length == 0) {
    destination[0] = '?';
    destination[1] = 0;
    return 1;
  }
  destination[0] = static_cast<char>(lead);
  if (length == 1) {
    destination[1] = 0;
    return 1;
  }
  std::int32_t got = ReadUnit(file, destination + 1, length - 1);
  std::int32_t continuing = 0;
  while (continuing < got &&
         (static_cast<std::uint8_t>(destination[1 + continuing]) & 0xC0) == 0x80) {
    ++continuing;
  }
  if (continuing < got) {
    // A byte that cannot continue the character (a line end, say) is not swallowed by it.
    GiveBack(file, got - continuing);
    destination[0] = '?';
    destination[1] = 0;
    return 1;
  }
  if (got < length - 1) return 0;
  destination[length] = 0;
  return length;
}

void ReadTextLine(ObjectId number, std::int32_t at) {
  ReadTextWithOptions(number, 0, -1, at);
}

void ReadTextWithOptions(ObjectId number, std::uint32_t options, std::int32_t maxUnits,
                         std::int32_t at) {
  SequentialFile* file = FindOpenFile(number);
  if (!file) {
    ResetTemp(at);
    return;
  }
  TextEncoding encoding = static_cast<TextEncoding>(options & EncodingMask);
  if (encoding == EncodingDefault) encoding = file->encoding;
  const bool utf16 = encoding == EncodingUtf16;
  const bool utf8 = encoding == EncodingUtf8;
  const std::int32_t unitBytes = utf16 ? 2 : 1;
  const bool lineEnds = !(options & ReadNoLineEnds);

  if (utf8 && lineEnds && ReadBufferedAsciiLine(file, maxUnits, at)) return;

  LineBuffer line{static_cast<std::uint8_t*>(sys::HeapAlloc(generalHeap, 0, LineStep)), LineStep,
                  0};
  if (!line.bytes) {
    ResetTemp(at);
    return;
  }
  std::int64_t remaining = maxUnits;  // negative: no limit
  bool ascii = true;                  // every byte of the line is below 0x80

  for (;;) {
    if (!utf16 && lineEnds) {
      std::size_t taken = TakePlainRun(file, line, !utf8, remaining);
      if (remaining >= 0) remaining -= static_cast<std::int64_t>(taken);
      if (remaining != 0 && TakeLineEnd(file)) break;
    }
    if (remaining == 0) break;
    if (remaining > 0) --remaining;
    // Room first: a unit once read is never dropped for want of space.
    if (!MakeRoom(line, 4)) break;

    char unit[5];
    std::int32_t got = utf8 ? ReadUtf8Sequence(file, unit) : ReadUnit(file, unit, unitBytes);
    if (got == 0 || got < unitBytes) break;
    char16_t code = utf16      ? static_cast<char16_t>(static_cast<std::uint8_t>(unit[0]) |
                                                  static_cast<std::uint8_t>(unit[1]) << 8)
                    : got == 1 ? static_cast<std::uint8_t>(unit[0])
                               : 0x80;  // a multi-byte character is never a line end
    if (code == 0) break;
    if (lineEnds && code == u'\n') break;
    if (lineEnds && code == u'\r') {
      std::uint8_t next[2];
      if (ReadUnit(file, next, unitBytes) == unitBytes) {
        bool lineFeed = next[0] == '\n' && (!utf16 || next[1] == 0);
        if (!lineFeed) GiveBack(file, unitBytes);
      }
      break;
    }
    std::memcpy(line.bytes + line.count, unit, static_cast<std::size_t>(got));
    line.count += static_cast<std::size_t>(got);
    if (got > 1 || code >= 0x80) ascii = false;
  }

  line.bytes[line.count] = 0;
  line.bytes[line.count + 1] = 0;
  if (utf16) {
    auto units = static_cast<std::int32_t>(line.count / 2);
    char16_t* destination = ReserveTemp(units, at);
    std::memcpy(destination, line.bytes, line.count & ~std::size_t{1});
    destination[units] = 0;
  } else if (utf8 && ascii) {
    WidenAsciiToTemp(line.bytes, line.count, at);
  } else if (utf8) {
    Utf8ToTemp(reinterpret_cast<const char*>(line.bytes), at);
  } else {
    AnsiToTemp(reinterpret_cast<const char*>(line.bytes), at);
  }
  sys::HeapFree(generalHeap, 0, line.bytes);
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

void CloseFileSlot(ObjectId number) {
  if (!fileTable) return;
  if (number == -1) return ReleaseAllObjects(fileTable);
  SequentialFile* file = FindOpenFile(number);
  if (!file) return;
  if (file->buffer) {
    FlushFileBuffer(file);
    sys::HeapFree(generalHeap, 0, file->buffer);
  }
  sys::CloseHandle(file->handle);
  if (file->landing) {
    char16_t* temporary = file->landing;
    if (file->writeFailed) {
      RemoveTemporary(temporary);
    } else {
      ReplaceWithTemporary(temporary, temporary + TextLength(temporary) + 1, false);
    }
    sys::HeapFree(generalHeap, 0, file->landing);
  }
  ReleaseObject(fileTable, number);
}

void CloseAllFiles() {
  CloseFileSlot(-1);
}

}  // namespace ralto
