// The system conversions: UTF-8 with its ill-formed input, Windows-1252, sizes and buffers.
#include "platform/text_codec.h"

#include <gtest/gtest.h>

#include <string>

namespace sys {
namespace {

std::u16string Decode(UINT codePage, const std::string& bytes) {
  int count = static_cast<int>(bytes.size());
  int units = MultiByteToWideChar(codePage, 0, bytes.data(), count, nullptr, 0);
  std::u16string text(static_cast<std::size_t>(units), u'\0');
  EXPECT_EQ(MultiByteToWideChar(codePage, 0, bytes.data(), count, text.data(), units), units);
  return text;
}

std::string Encode(UINT codePage, const std::u16string& text) {
  int count = static_cast<int>(text.size());
  int size = WideCharToMultiByte(codePage, 0, text.data(), count, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  EXPECT_EQ(
      WideCharToMultiByte(codePage, 0, text.data(), count, bytes.data(), size, nullptr, nullptr),
      size);
  return bytes;
}

TEST(Utf8DecodeTest, IllFormedSequencesBecomeOneReplacementPerMaximalSubpart) {
  struct Case {
    std::string bytes;
    std::u16string text;
  };
  const Case cases[] = {
      {"\x80", u"\uFFFD"},
      {"\xBF\x80", u"\uFFFD\uFFFD"},
      {"\xC0\xAF", u"\uFFFD\uFFFD"},  // overlong lead bytes are never valid
      {"\xC1\xBF", u"\uFFFD\uFFFD"},
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong three-byte form
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xF5\x80", u"\uFFFD\uFFFD"},
      {"\xFF\xFE", u"\uFFFD\uFFFD"},
      {"\xE2\x82", u"\uFFFD"},  // truncated at the end
      {"\xE2\x82x", u"\uFFFDx"},
      {"\xF0\x9F\x98x", u"\uFFFDx"},
      {"\xC3", u"\uFFFD"},
      {"a\xF1\x80\x80\xE1\x80\xC2"
       "b\x80"
       "c\x80\xBF"
       "d",
       u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
  };
  for (const Case& c : cases) EXPECT_EQ(Decode(CP_UTF8, c.bytes), c.text) << c.bytes;
}

TEST(Utf8DecodeTest, WellFormedBoundaries) {
  EXPECT_EQ(Decode(CP_UTF8, "\x7F\xC2\x80\xDF\xBF"), u"\u007F\u0080\u07FF");
  EXPECT_EQ(Decode(CP_UTF8, "\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF"),
            u"\u0800\uD7FF\uE000\uFFFF");
  EXPECT_EQ(Decode(CP_UTF8, "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"), u"\U00010000\U0010FFFF");
  EXPECT_EQ(Decode(CP_UTF8, std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Utf8EncodeTest, SurrogatesPairedAndLone) {
  EXPECT_EQ(Encode(CP_UTF8, u"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Encode(CP_UTF8, u"\u00C4\u20AC"), "\xC3\x84\xE2\x82\xAC");
  EXPECT_EQ(Encode(CP_UTF8, std::u16string{0xD83D, u'x'}), "\xEF\xBF\xBDx");
  EXPECT_EQ(Encode(CP_UTF8, std::u16string{0xDE00, 0xD83D}), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

// The ANSI code page is Windows-1252 only where the POSIX layer stands in; Windows has its
// own, and maps missing characters to near ones.
#ifndef _WIN32
TEST(Cp1252Test, EveryByteRoundTrips) {
  for (int b = 1; b < 256; ++b) {
    std::string byte(1, static_cast<char>(b));
    std::u16string text = Decode(CP_ACP, byte);
    ASSERT_EQ(text.size(), 1u);
    EXPECT_EQ(Encode(CP_ACP, text), byte) << b;
  }
  EXPECT_EQ(Decode(CP_ACP, "\x80\x81\x8D\x8F\x90\x9D\x9F\xA0\xFF"),
            u"\u20AC\u0081\u008D\u008F\u0090\u009D\u0178\u00A0\u00FF");
}

TEST(Cp1252Test, UnrepresentableCharactersBecomeTheDefault) {
  EXPECT_EQ(Encode(CP_ACP, u"\u0100\u0080\u0082\U0001F600z"), "????z");
  char16_t text[] = u"a\u4E00";
  char bytes[4];
  BOOL usedDefault = FALSE;
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, 2, bytes, 4, "#", &usedDefault), 2);
  EXPECT_EQ(std::string(bytes, 2), "a#");
  EXPECT_EQ(usedDefault, TRUE);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, 1, bytes, 4, nullptr, &usedDefault), 1);
  EXPECT_EQ(usedDefault, FALSE);
}
#endif

TEST(CodecSizesTest, MeasuringTerminatorsAndShortBuffers) {
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98\x80", -1, nullptr, 0), 3);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00C4", -1, nullptr, 0, nullptr, nullptr), 3);
  char16_t wide[2];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, wide, 2), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98\x80", 4, wide, 1), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98\x80", 4, wide, 2), 2);
  char bytes[2];
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00C4", 1, bytes, 1, nullptr, nullptr), 0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00C4", 1, bytes, 2, nullptr, nullptr), 2);
}

TEST(CodecSizesTest, InvalidArgumentsFail) {
  char16_t wide[4];
  char bytes[4];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a", 0, wide, 4), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, nullptr, 1, wide, 4), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a", -2, wide, 4), 0);
#ifndef _WIN32
  EXPECT_EQ(MultiByteToWideChar(1250, 0, "a", 1, wide, 4), 0);  // no other code page here
#endif
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, bytes, 4, "?", nullptr), 0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"a", 0, bytes, 4, nullptr, nullptr), 0);
}

}  // namespace
}  // namespace sys
