// PercentEncode: the worked results, every byte value against the safe set as written down,
// absent and empty texts, a failure told from an empty result (without memory for the result
// or for the text's bytes), and a result written over its own input in the area.
#include "runtime/net/percent_encode.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "../strings/strings_fixture.h"
#include "platform/text_codec.h"
#include "runtime/strings/text_convert.h"

namespace ralto {
namespace {

class PercentEncodeTest : public StringsTest {
 protected:
  // The result of encoding text, with the area's position checked to sit at its terminator.
  std::u16string Encode(const char16_t* text, TextEncoding mode, std::int32_t at = 0) {
    EXPECT_TRUE(PercentEncode(text, mode, at));
    std::u16string result(TempText(at));
    EXPECT_EQ(tempArea.position, at + 2 * static_cast<std::int32_t>(result.size()));
    return result;
  }
};

struct WorkedCase {
  const char16_t* input;
  TextEncoding mode;
  const char16_t* output;
};

TEST_F(PercentEncodeTest, WorkedResults) {
  const WorkedCase cases[] = {
      {u"a b", EncodingUtf8, u"a%20b"},
      {u"1+1", EncodingUtf8, u"1%2B1"},
      {u"100%", EncodingUtf8, u"100%25"},
      {u"?hostname=h&myip=1.2.3.4", EncodingUtf8, u"?hostname=h&myip=1.2.3.4"},
      {u"\u00E4", EncodingUtf8, u"%C3%A4"},
      {u"\u20AC", EncodingUtf8, u"%E2%82%AC"},
      {u"\u00E4", EncodingAnsi, u"%E4"},
      {u"\u00E4", EncodingUtf16, u"%E4"},  // every mode but 2 is ANSI
      {u"\u00AB", EncodingAnsi, u"%AB"},
      {u"\u00AB", EncodingUtf8, u"%C2%AB"},
      {u"\u20AC", EncodingAnsi, u"%80"},  // the euro sign's 1252 byte
      {u"\u4E2D", EncodingAnsi, u"?"},    // not in 1252: the default character, kept as is
      {u"%41", EncodingUtf8, u"%2541"},   // nothing is decoded
      {u"[]{}|^`\\<>\"", EncodingUtf8, u"%5B%5D%7B%7D%7C%5E%60%5C%3C%3E%22"},
      {u"~'()*&=#/?@", EncodingUtf8, u"~'()*&=#/?@"},
  };
  for (const WorkedCase& c : cases) {
    EXPECT_EQ(Encode(c.input, c.mode), c.output) << "mode " << c.mode;
  }
}

TEST_F(PercentEncodeTest, EveryByteAgainstTheSafeSet) {
  // The set as the table of safe bytes lists it, read independently of the code.
  const std::string listedMarks = "-._~!'()*#$&,/:;=?@";
  for (int b = 1; b < 256; ++b) {
    bool safe = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') ||
                listedMarks.find(static_cast<char>(b)) != std::string::npos;
    // In the ANSI mode a 1252 character gives exactly its one byte back, so each byte value
    // can be reached; the five bytes 1252 leaves undefined map to the same code points.
    char bytes[2] = {static_cast<char>(b), 0};
    char16_t text[4] = {};
    ASSERT_EQ(sys::MultiByteToWideChar(sys::CP_ACP, 0, bytes, -1, text, 4), 2) << b;
    char expected[4];
    if (safe) {
      std::snprintf(expected, sizeof expected, "%c", b);
    } else {
      std::snprintf(expected, sizeof expected, "%%%02X", b);
    }
    std::u16string want(expected, expected + std::strlen(expected));
    EXPECT_EQ(Encode(text, EncodingAnsi), want) << "byte " << b;
  }
}

TEST_F(PercentEncodeTest, AbsentAndEmptyTextsGiveTheEmptyText) {
  AppendTemp(u"abc");
  EXPECT_EQ(Encode(nullptr, EncodingUtf8, 2), u"");
  EXPECT_EQ(TempText(0)[0], u'a');  // what lies before at is kept
  EXPECT_EQ(Encode(u"", EncodingUtf8, 2), u"");
  EXPECT_EQ(Encode(u"", EncodingAnsi, 0), u"");
}

TEST_F(PercentEncodeTest, WithoutMemoryTheResultIsAFailureNotAnEmptyText) {
  AppendTemp(u"abc");
  sys::HANDLE heap = generalHeap;
  generalHeap = nullptr;  // a heap that gives nothing, like an exhausted one
  EXPECT_FALSE(PercentEncode(u"a b", EncodingUtf8, 2));
  generalHeap = heap;
  EXPECT_EQ(AreaText(2), u"");
  EXPECT_EQ(tempArea.position, 2);
  EXPECT_EQ(AreaText(0), u"a");
}

#ifndef _WIN32  // an address-space limit is a POSIX process's
// Encodes text with what the process has mapped and 16 MiB more, never room for the text's
// bytes; 0 when the encoding failed, 1 when it gave a result, 2 when no limit could be set.
int EncodeWithoutRoomForTheBytes(const std::u16string& text) {
  long pages = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (!statm || std::fscanf(statm, "%ld", &pages) != 1) return 2;
  const auto limit = static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE) + (16 << 20));
  const rlimit addressSpace{limit, limit};
  if (setrlimit(RLIMIT_AS, &addressSpace) != 0) return 2;
  return PercentEncode(text.c_str(), EncodingUtf8, 0) ? 1 : 0;
}

TEST_F(PercentEncodeTest, WithoutMemoryForItsBytesTheTextIsAFailureNotAnEmptyText) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizer's allocator ends the process where malloc would fail";
#endif
  const std::u16string text(std::size_t{64} << 20, u'a');  // 64 MiB as bytes
  EXPECT_EXIT(std::exit(EncodeWithoutRoomForTheBytes(text)), ::testing::ExitedWithCode(0), "");
}
#endif

TEST_F(PercentEncodeTest, ResultOverwritesItsInputInTheArea) {
  // A long input makes the area grow while the result is written, so the input's address
  // is gone by then.
  std::u16string value = u"x=";
  for (int i = 0; i < 200; ++i) value += u"\u00E4 ";
  AppendTemp(u"head:");
  std::int32_t at = tempArea.position;
  AppendTemp(value.c_str());
  ASSERT_TRUE(PercentEncode(TempText(at), EncodingUtf8, at));

  std::u16string expected = u"x=";
  for (int i = 0; i < 200; ++i) expected += u"%C3%A4%20";
  EXPECT_EQ(std::u16string(TempText(at)), expected);
  EXPECT_EQ(std::u16string(TempText(0), 5), u"head:");
  EXPECT_EQ(tempArea.position, at + 2 * static_cast<std::int32_t>(expected.size()));
}

}  // namespace
}  // namespace ralto
