// Byte strings to texts in the area and texts to new byte strings.
#include "runtime/strings/text_convert.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/unit/strings/strings_fixture.h"

namespace ralto {
namespace {

using TextConvertTest = StringsTest;

std::string TakeBytes(char* bytes) {
  std::string copy(bytes);
  std::free(bytes);
  return copy;
}

#ifndef _WIN32  // the ANSI code page is Windows-1252 only on POSIX
TEST_F(TextConvertTest, EveryAnsiByteRoundTrips) {
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  AppendTemp(u"x");
  AnsiToTemp(all.c_str(), 2);
  EXPECT_EQ(tempArea.position, 2 + 2 * 255);
  std::u16string text = AreaText(2);
  EXPECT_EQ(text[0x80 - 1], u'\u20AC');
  EXPECT_EQ(text[0x81 - 1], u'\u0081');
  EXPECT_EQ(TakeBytes(ToAnsiBytes(text.c_str())), all);
}
#endif

TEST_F(TextConvertTest, EmptyAndAbsentGiveTheEmptyTextAtAt) {
  AppendTemp(u"ab");
  for (const char* bytes : {static_cast<const char*>(nullptr), ""}) {
    AnsiToTemp(bytes, 2);
    EXPECT_EQ(tempArea.position, 2);
    EXPECT_EQ(AreaText(0), u"a");
    Utf8ToTemp(bytes, 2);
    EXPECT_EQ(tempArea.position, 2);
    EXPECT_EQ(AreaText(0), u"a");
  }
}

TEST_F(TextConvertTest, Utf8IntoTheArea) {
  struct Case {
    const char* bytes;
    std::u16string text;
  };
  const Case cases[] = {
      {"10.0.0.1", u"10.0.0.1"},
      {"\xC3\x84rger \xE2\x82\xAC", u"\u00C4rger \u20AC"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"a\xC3", u"a\uFFFD"},
      {"\xED\xA0\x80z", u"\uFFFD\uFFFD\uFFFDz"},
  };
  for (const Case& c : cases) {
    Utf8ToTemp(c.bytes, 0);
    EXPECT_EQ(AreaText(0), c.text);
    EXPECT_EQ(tempArea.position, 2 * static_cast<std::int32_t>(c.text.size()));
  }
}

TEST_F(TextConvertTest, ToBytes) {
  char* bytes = ToUtf8Bytes(u"\u00C4");
  EXPECT_EQ(std::memcmp(bytes, "\xC3\x84\0\0", 4), 0);
  FreeUtf8Bytes(bytes);
  EXPECT_EQ(TakeBytes(ToUtf8Bytes(u"")), "");
  EXPECT_EQ(TakeBytes(ToUtf8Bytes(nullptr)), "");
  EXPECT_EQ(TakeBytes(ToAnsiBytes(nullptr)), "");
#ifndef _WIN32
  EXPECT_EQ(TakeBytes(ToAnsiBytes(u"\u00C4\u20AC\u0100")), "\xC4\x80?");
#endif
  EXPECT_EQ(TakeBytes(ToUtf8Bytes(u"\U0001F600")), "\xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace ralto
