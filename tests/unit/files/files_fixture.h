// A started runtime with a file table and a fresh temporary folder for each test.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/clock.h"
#include "runtime/files/line_reader.h"
#include "runtime/files/sequential_file.h"
#include "tests/unit/strings/strings_fixture.h"
#include "tests/unit/temp_folder.h"

namespace ralto {

// Runs a block under another local time zone (a TZ value) and restores the old one; under a
// null zone the block runs in the zone in force.
class ScopedZone {
 public:
  explicit ScopedZone(const char* zone) : active(zone != nullptr) {
    if (!active) return;
#ifndef _WIN32
    const char* old = getenv("TZ");
    hadZone = old != nullptr;
    if (old) oldZone = old;
    setenv("TZ", zone, 1);
    tzset();
#endif
  }
  ~ScopedZone() {
    if (!active) return;
#ifndef _WIN32
    if (hadZone) {
      setenv("TZ", oldZone.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
#endif
  }
  ScopedZone(const ScopedZone&) = delete;
  ScopedZone& operator=(const ScopedZone&) = delete;

 private:
  bool active;
  bool hadZone = false;
  std::string oldZone;
};

#ifdef _WIN32
// Windows takes the local zone from the system, never from TZ: only the zone in force can be
// tested there.
inline const char* const testZones[] = {nullptr};
inline const char* const utcZone = nullptr;
#else
// Zones west and east of UTC, one with a half-hour daylight-saving shift.
inline const char* const testZones[] = {"UTC", "America/New_York", "Australia/Lord_Howe",
                                        "Asia/Kolkata"};
inline const char* const utcZone = "UTC";
#endif

// A zone for a test's messages.
inline const char* ZoneName(const char* zone) {
  return zone ? zone : "the zone in force";
}

// The local calendar fields of a time, in seconds as if they were UTC's.
inline std::int64_t CalendarSeconds(const std::tm& fields) {
  using namespace std::chrono;
  const sys_days date =
      year_month_day{year{fields.tm_year + 1900}, month(static_cast<unsigned>(fields.tm_mon + 1)),
                     day(static_cast<unsigned>(fields.tm_mday))};
  return date.time_since_epoch().count() * std::int64_t{86400} + fields.tm_hour * 3600 +
         fields.tm_min * 60 + fields.tm_sec;
}

// The local time zone's offset from UTC in force now, in seconds.
inline long ZoneOffsetNow() {
  std::time_t now = std::time(nullptr);
  std::tm local = *std::localtime(&now);
  std::tm utc = *std::gmtime(&now);
  return static_cast<long>(CalendarSeconds(local) - CalendarSeconds(utc));
}

// A FILETIME of 100-nanosecond ticks since 1601.
inline sys::FILETIME FileTimeOf(std::uint64_t ticks) {
  return sys::FILETIME{static_cast<sys::DWORD>(ticks), static_cast<sys::DWORD>(ticks >> 32)};
}

class FilesTest : public StringsTest {
 protected:
  void SetUp() override {
    StringsTest::SetUp();
    InitFileTable();
    folder = MakeTempFolder("ralto-files-");
    ASSERT_FALSE(folder.empty());
  }
  void TearDown() override {
    CloseAllFiles();
    fileTable = nullptr;
    DefaultFileBufferSize = 4096;
    // Windows deletes no read-only file, and no folder that still holds one.
    std::error_code ignored;
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    for (auto& entry : std::filesystem::recursive_directory_iterator(folder, ignored)) {
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(folder, ignored);
    StringsTest::TearDown();
  }

  // The test names are UTF-8, whatever the system's narrow encoding.
  std::filesystem::path PathOf(const std::string& name) const {
    return folder / std::u8string(name.begin(), name.end());
  }
  // The path as a UTF-16 name.
  std::u16string Name(const std::string& name) const { return PathOf(name).u16string(); }

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

  // Read-only for everyone: on Windows, the read-only attribute.
  void MakeReadOnly(const std::string& name) const {
    std::filesystem::permissions(PathOf(name), std::filesystem::perms::owner_read |
                                                   std::filesystem::perms::group_read |
                                                   std::filesystem::perms::others_read);
  }
  static bool IsReadOnly(const std::filesystem::path& path) {
    return (std::filesystem::status(path).permissions() & std::filesystem::perms::owner_write) ==
           std::filesystem::perms::none;
  }

  void WriteBytes(const std::string& name, const std::string& bytes) const {
    std::ofstream(PathOf(name), std::ios::binary) << bytes;
  }
  // The size alone: Windows lets nobody read a file that the runtime holds without sharing.
  std::int64_t BytesOnDisk(const std::string& name) const {
    std::error_code error;
    auto size = std::filesystem::file_size(PathOf(name), error);
    return error ? -1 : static_cast<std::int64_t>(size);
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
