// A started runtime with a file table and a fresh temporary folder for each test.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "runtime/files/sequential_file.h"
#include "tests/unit/strings/strings_fixture.h"

namespace ralto {

// Runs a block under another local time zone (a TZ value) and restores the old one.
class ScopedZone {
 public:
  explicit ScopedZone(const char* zone) {
    const char* old = getenv("TZ");
    hadZone = old != nullptr;
    if (old) oldZone = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedZone() {
    if (hadZone) {
      setenv("TZ", oldZone.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  ScopedZone(const ScopedZone&) = delete;
  ScopedZone& operator=(const ScopedZone&) = delete;

 private:
  bool hadZone;
  std::string oldZone;
};

// Zones west and east of UTC, one with a half-hour daylight-saving shift.
inline const char* const testZones[] = {"UTC", "America/New_York", "Australia/Lord_Howe",
                                        "Asia/Kolkata"};

class FilesTest : public StringsTest {
 protected:
  void SetUp() override {
    StringsTest::SetUp();
    InitFileTable();
    char pattern[] = "/tmp/ralto-files-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder = pattern;
  }
  void TearDown() override {
    CloseAllFiles();
    fileTable = nullptr;
    DefaultFileBufferSize = 4096;
    std::error_code ignored;
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(folder, ignored);
    StringsTest::TearDown();
  }

  std::string PathOf(const std::string& name) const { return (folder / name).string(); }
  // The path as a UTF-16 name (the test names are UTF-8).
  std::u16string Name(const std::string& name) const { return Utf16(PathOf(name)); }

  static std::u16string Utf16(const std::string& utf8) {
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
      auto byte = static_cast<unsigned char>(utf8[i]);
      int length = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
      char32_t c = length == 1 ? byte : byte & (0x3F >> (length - 1));
      for (int k = 1; k < length; ++k) c = c << 6 | (utf8[i + k] & 0x3F);
      if (c >= 0x10000) {
        out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
      } else {
        out += static_cast<char16_t>(c);
      }
      i += length;
    }
    return out;
  }

  void WriteBytes(const std::string& name, const std::string& bytes) const {
    std::ofstream(PathOf(name), std::ios::binary) << bytes;
  }
  std::string ReadBytes(const std::string& name) const {
    std::ifstream in(PathOf(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // One line read through the area, copied out; the area's position is restored.
  static std::u16string Line(ObjectId number, std::uint32_t options = 0,
                             std::int32_t maxUnits = -1) {
    std::int32_t at = tempArea.position;
    ReadTextWithOptions(number, options, maxUnits, at);
    std::u16string line = TempText(at);
    ResetTemp(at);
    return line;
  }

  std::filesystem::path folder;
};

}  // namespace ralto
