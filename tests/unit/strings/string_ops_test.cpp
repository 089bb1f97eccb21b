// Comparison, left part, integer parsing and search.
#include "runtime/strings/string_ops.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/strings/strings_fixture.h"

namespace ralto {
namespace {

TEST(StringsEqualTest, ExactComparison) {
  EXPECT_EQ(StringsEqual(u"abc", u"abc"), 1);
  EXPECT_EQ(StringsEqual(u"abc", u"abcd"), 0);
  EXPECT_EQ(StringsEqual(u"abcd", u"abc"), 0);
  EXPECT_EQ(StringsEqual(u"abc", u"ABC"), 0);
  EXPECT_EQ(StringsEqual(nullptr, u""), 1);
  EXPECT_EQ(StringsEqual(nullptr, nullptr), 1);
  EXPECT_EQ(StringsEqual(u"a", nullptr), 0);
}

TEST(TextLengthTest, CountsUnitsBeforeTheTerminator) {
  EXPECT_EQ(TextLength(nullptr), 0);
  EXPECT_EQ(TextLength(u""), 0);
  EXPECT_EQ(TextLength(u"\U0001F600x"), 3);
}

TEST(TextLengthTest, EveryLengthAtEveryAlignment) {
  alignas(16) char16_t buffer[64];
  for (int start = 0; start < 8; ++start) {
    for (int length = 0; length < 40; ++length) {
      std::fill(std::begin(buffer), std::end(buffer), u'\u0100');  // a 0 low byte, never a 0 unit
      buffer[start + length] = 0;
      EXPECT_EQ(TextLength(buffer + start), length) << start;
    }
  }
}

using LeftCharsTest = StringsTest;

TEST_F(LeftCharsTest, Counts) {
  struct Case {
    const char16_t* text;
    std::int32_t count;
    std::u16string expected;
  };
  for (const Case& c : {Case{u"abc", -5, u""}, Case{u"abc", 0, u""}, Case{u"abc", 2, u"ab"},
                        Case{u"abc", 10, u"abc"}, Case{nullptr, 3, u""}}) {
    AppendTemp(u"xy");
    LeftChars(c.text, c.count, 4);
    EXPECT_EQ(AreaText(4), c.expected) << c.count;
    EXPECT_EQ(tempArea.position, 4 + 2 * static_cast<std::int32_t>(c.expected.size()));
    EXPECT_EQ(AreaText(0).substr(0, 2), u"xy");
    ResetTemp(0);
  }
}

TEST_F(LeftCharsTest, TextInTheAreaSurvivesAGrowthThatMovesTheBlock) {
  AppendTemp(u"0123456789");
  StringValue fence = nullptr;
  AssignString(&fence, u"keeps the block from growing in place");
  std::int32_t at = tempArea.position + 2;
  ResetTemp(at);
  // Fill the area to just below its capacity, so the reservation must grow it.
  char16_t* filler = ReserveTemp((tempArea.capacity - at) / 2 - 3, at);
  filler[0] = 0;
  char* before = tempArea.base;
  LeftChars(TempText(0), 7, tempArea.position);
  EXPECT_NE(tempArea.base, before);
  EXPECT_EQ(std::u16string(TempText(tempArea.position - 14)), u"0123456");
}

TEST(ToIntegerTest, Examples) {
  struct Case {
    const char16_t* text;
    std::int64_t value;
  };
  const Case cases[] = {
      {u"  \t42xyz", 42},
      {u"-17", -17},
      {u"+8", 8},
      {u"$fF", 255},
      {u"-$10", -16},
      {u"%1011", 11},
      {u"%102", 2},
      {u"0x1F", 0},
      {u"$", 0},
      {u"%", 0},
      {u"", 0},
      {nullptr, 0},
      {u"- 5", 0},
      {u"$ 5", 0},
      {u"\n5", 0},
      {u"--5", 0},
      {u"\uFF15", 0},  // a full-width digit is no digit
      {u"9223372036854775807", INT64_MAX},
      {u"9223372036854775808", INT64_MIN},
      {u"-9223372036854775808", INT64_MIN},
      {u"18446744073709551617", 1},
      {u"$FFFFFFFFFFFFFFFF", -1},
      {u"$1FFFFFFFFFFFFFFFF", -1},
      {u"007", 7},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToInteger(c.text), c.value) << (c.text ? std::u16string(c.text).size() : 0);
  }
}

TEST(FindTextTest, Examples) {
  struct Case {
    const char16_t* text;
    const char16_t* pattern;
    std::int32_t position;
  };
  const Case cases[] = {
      {u"good morning", u"good", 1},
      {u"all good", u"good", 5},
      {u"GOOD", u"good", 0},
      {u"abc", u"", 0},
      {u"", u"a", 0},
      {nullptr, u"a", 0},
      {u"a", nullptr, 0},
      {u"aab", u"ab", 2},
      {u"nochgood", u"good", 5},
      {u"goo", u"good", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(FindText(c.text, c.pattern), c.position);
}

}  // namespace
}  // namespace ralto
