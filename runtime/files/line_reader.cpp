// Lines read from a sequential file: plain runs straight from the buffer, eight bytes at a
// time, the rest unit by unit in UTF-8, ANSI or UTF-16.
#include "runtime/files/line_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/heap.h"
#include "runtime/files/file_buffer.h"
#include "runtime/files/sequential_file.h"
#include "runtime/strings/heaps.h"
#include "runtime/strings/string_area.h"

namespace ralto {
namespace {

constexpr std::size_t LineStep = 4096;
// A line longer than this ends there; the rest comes with the next read. The string area
// holds less than 2 GiB and stops the process beyond: a line from a server must fit there as
// UTF-16 next to its percent-encoded form (up to three units a byte).
constexpr std::size_t MaxLineBytes = std::size_t{1} << 27;

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

// What a buffered file holds unread, nothing consumed: the next byte, the count, and the
// length of their leading run that cannot end a line or start a multi-byte character, at most
// limit (negative: no limit). All 0 when the buffer holds nothing to read.
struct Ahead {
  const std::uint8_t* next;
  std::int32_t count;
  std::int32_t run;
};

Ahead LookAhead(const SequentialFile* file, bool ansi, std::int64_t limit) {
  if (!file->buffer || file->readMode != 1 || file->bufferCount <= 0) return {nullptr, 0, 0};
  const std::uint8_t* next = file->buffer + (file->bufferFilled - file->bufferCount);
  std::size_t available = static_cast<std::size_t>(file->bufferCount);
  if (limit >= 0) available = std::min(available, static_cast<std::size_t>(limit));
  return {next, file->bufferCount,
          static_cast<std::int32_t>(PlainRunLength(next, available, ansi))};
}

// Moves the plain run at the read position straight from the buffer into the line; the
// unit-by-unit reader does the rest. Returns the number of bytes taken (at most limit).
std::size_t TakePlainRun(SequentialFile* file, LineBuffer& line, bool ansi, std::int64_t limit) {
  const Ahead ahead = LookAhead(file, ansi, limit);
  const auto run = static_cast<std::size_t>(ahead.run);
  if (run == 0 || !MakeRoom(line, run)) return 0;
  std::memcpy(line.bytes + line.count, ahead.next, run);
  line.count += run;
  file->bufferCount -= ahead.run;
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
  const Ahead ahead = LookAhead(file, true, 0);
  const std::int32_t length = LineEndLength(ahead.next, ahead.count);
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
  const Ahead ahead = LookAhead(file, false, limit);
  if (!ahead.next) return false;
  std::int32_t end = 0;
  if (limit < 0 || ahead.run < limit) {
    end = LineEndLength(ahead.next + ahead.run, ahead.count - ahead.run);
    if (end == 0) return false;
  }
  WidenAsciiToTemp(ahead.next, static_cast<std::size_t>(ahead.run), at);
  file->bufferCount -= ahead.run + end;
  return true;
}

// One UTF-8 character's bytes, 0-terminated, into destination (5 bytes). Its length; 0 at
// the end of the file or for a sequence the end cuts off. A stray byte, or a sequence broken
// by a byte that cannot continue it, reads as "?" and that byte is left for the next read.
std::int32_t ReadUtf8Sequence(SequentialFile* file, char* destination) {
  std::uint8_t lead;
  if (BufferedRead(file, &lead, 1) != 1) return 0;
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
  std::int32_t got = BufferedRead(file, destination + 1, length - 1);
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

}  // namespace

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
  TextEncoding encoding = EncodingIn(options);
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
    std::int32_t got = utf8 ? ReadUtf8Sequence(file, unit) : BufferedRead(file, unit, unitBytes);
    if (got == 0 || got < unitBytes) break;
    char16_t code = utf16      ? static_cast<char16_t>(static_cast<std::uint8_t>(unit[0]) |
                                                  static_cast<std::uint8_t>(unit[1]) << 8)
                    : got == 1 ? static_cast<std::uint8_t>(unit[0])
                               : 0x80;  // a multi-byte character is never a line end
    if (code == 0) break;
    if (lineEnds && code == u'\n') break;
    if (lineEnds && code == u'\r') {
      std::uint8_t next[2];
      if (BufferedRead(file, next, unitBytes) == unitBytes) {
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

}  // namespace ralto
