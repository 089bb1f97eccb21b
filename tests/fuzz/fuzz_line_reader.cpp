// Line reading in the three encodings on an arbitrary file: every buffer size reads the same
// lines, each read makes progress, and whole lines match a plain split of the bytes.
#include <unistd.h>

#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/file_io.h"
#include "runtime/files/line_reader.h"
#include "runtime/files/sequential_file.h"
#include "runtime/strings/text_convert.h"

namespace ralto::fuzz {
namespace {

// The one file every input is written to; gone again when the fuzzer ends normally.
struct InputFile {
  std::string path = "/tmp/ralto-fuzz-lines-" + std::to_string(getpid());
  std::u16string name{path.begin(), path.end()};
  ~InputFile() { unlink(path.c_str()); }
};

void WriteWhole(const std::u16string& name, const std::string& bytes) {
  sys::HANDLE file = sys::CreateFileW(name.c_str(), sys::GENERIC_WRITE, 0, nullptr,
                                      sys::CREATE_ALWAYS, sys::FILE_ATTRIBUTE_NORMAL, nullptr);
  FUZZ_CHECK(file != sys::INVALID_HANDLE_VALUE);
  sys::DWORD written = 0;
  sys::WriteFile(file, bytes.data(), static_cast<sys::DWORD>(bytes.size()), &written, nullptr);
  FUZZ_CHECK(written == bytes.size());
  sys::CloseHandle(file);
}

// Bytes the reader has taken from file 0: the system position less the unread read-ahead.
std::int64_t Consumed() {
  SequentialFile* file = FindOpenFile(0);
  sys::LONG high = 0;
  sys::DWORD low = sys::SetFilePointer(file->handle, 0, &high, sys::FILE_CURRENT);
  std::int64_t position = (std::int64_t{high} << 32) | low;
  if (file->buffer && file->readMode == 1) position -= file->bufferCount;
  return position;
}

struct Reading {
  std::vector<std::u16string> lines;
  bool operator==(const Reading&) const = default;
};

// Both readings on standard error, unit by unit in hex, for the report of a broken property.
void Show(const char* label, const Reading& reading) {
  std::fprintf(stderr, "%s:\n", label);
  for (const std::u16string& line : reading.lines) {
    for (char16_t unit : line) std::fprintf(stderr, " %04x", static_cast<unsigned>(unit));
    std::fputs(" |\n", stderr);
  }
}

bool SameReading(const Reading& got, const Reading& expected) {
  if (got == expected) return true;
  Show("read", got);
  Show("expected", expected);
  return false;
}

// Reads file 0 to its end; a read that takes no byte ends the walk (it must be the last).
Reading ReadAll(const std::u16string& name, std::int32_t bufferSize, std::uint32_t flags,
                std::uint32_t options, std::int32_t maxUnits, std::size_t size) {
  DefaultFileBufferSize = bufferSize;
  FUZZ_CHECK(OpenFileWithFlags(0, name.c_str(), OpenExisting, flags) != 0);
  Reading reading;
  std::int64_t before = 0;
  for (;;) {
    if (options == 0 && maxUnits < 0) {
      ReadTextLine(0, 0);
    } else {
      ReadTextWithOptions(0, options, maxUnits, 0);
    }
    std::int64_t after = Consumed();
    FUZZ_CHECK(after >= before && after <= static_cast<std::int64_t>(size));
    if (after == before) {
      FUZZ_CHECK(TempText(0)[0] == 0);
      break;
    }
    reading.lines.emplace_back(TempText(0));
    before = after;
  }
  CloseFileSlot(0);
  return reading;
}

// The lines of the bytes split at LF, CR LF, CR and NUL, each decoded whole: what the reader
// must give for ANSI and UTF-16 files, and for UTF-8 files that are well-formed.
Reading SplitBytes(const std::string& bytes, TextEncoding encoding) {
  const bool utf16 = encoding == EncodingUtf16;
  const std::size_t unit = utf16 ? 2 : 1;
  auto at = [&](std::size_t i) {
    return utf16 ? static_cast<char16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                         static_cast<std::uint8_t>(bytes[i + 1]) << 8)
                 : static_cast<char16_t>(static_cast<std::uint8_t>(bytes[i]));
  };
  Reading reading;
  std::string current;
  auto finishLine = [&] {
    if (utf16) {
      reading.lines.emplace_back(reinterpret_cast<const char16_t*>(current.data()),
                                 current.size() / 2);
    } else {
      (encoding == EncodingUtf8 ? Utf8ToTemp : AnsiToTemp)(current.c_str(), 0);
      reading.lines.emplace_back(TempText(0));
    }
    current.clear();
  };
  std::size_t i = 0;
  const std::size_t end = bytes.size() - bytes.size() % unit;
  while (i < end) {
    char16_t code = at(i);
    if (code == 0 || code == u'\n' || code == u'\r') {
      i += unit;
      if (code == u'\r' && i < end && at(i) == u'\n') i += unit;
      finishLine();
      continue;
    }
    current.append(bytes, i, unit);
    i += unit;
  }
  if (!current.empty() || end < bytes.size()) finishLine();
  return reading;
}

}  // namespace
}  // namespace ralto::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ralto;
  using namespace ralto::fuzz;
  StartRuntimeOnce();
  if (!fileTable) InitFileTable();
  static const InputFile input;
  const std::u16string& name = input.name;

  FuzzedDataProvider in(data, size);
  static constexpr TextEncoding Encodings[] = {EncodingDefault, EncodingUtf8, EncodingAnsi,
                                               EncodingUtf16};
  static constexpr std::int32_t BufferSizes[] = {1, 2, 3, 5, 16, 4096};
  TextEncoding encoding = Encodings[in.ConsumeIntegralInRange(0, 3)];
  std::int32_t bufferSize = BufferSizes[in.ConsumeIntegralInRange(0, 5)];
  std::uint32_t options = in.ConsumeBool() ? ReadNoLineEnds : 0;
  std::int32_t maxUnits = in.ConsumeBool() ? in.ConsumeIntegralInRange(1, 40) : -1;
  bool encodingPerRead = in.ConsumeBool();
  std::string bytes = in.ConsumeRemainingBytesAsString();
  WriteWhole(name, bytes);

  // The encoding either comes with the open (the file's own) or with each read.
  std::uint32_t flags = encoding;
  std::uint32_t readOptions = options;
  if (encoding != EncodingDefault && encodingPerRead) {
    flags = 0;
    readOptions |= static_cast<std::uint32_t>(encoding);
  }
  TextEncoding effective = encoding == EncodingDefault ? EncodingUtf8 : encoding;

  Reading reference = ReadAll(name, 4096, flags, readOptions, maxUnits, bytes.size());
  FUZZ_CHECK(SameReading(ReadAll(name, bufferSize, flags, readOptions, maxUnits, bytes.size()),
                         reference));
  FUZZ_CHECK(SameReading(
      ReadAll(name, 4096, flags | FileUnbuffered, readOptions, maxUnits, bytes.size()), reference));

  if (!(options & ReadNoLineEnds)) {
    for (const std::u16string& line : reference.lines) {
      FUZZ_CHECK(line.find_first_of(u"\r\n") == std::u16string::npos);
    }
    // An odd byte at the end of a UTF-16 file may go with a CR's look-ahead: no reference.
    bool comparable = effective == EncodingUtf16  ? bytes.size() % 2 == 0
                      : effective == EncodingUtf8 ? IsWellFormedUtf8(bytes)
                                                  : true;
    if (maxUnits < 0 && comparable) {
      FUZZ_CHECK(SameReading(reference, SplitBytes(bytes, effective)));
    }
  }
  DefaultFileBufferSize = 4096;
  ResetTemp(0);
  return 0;
}
