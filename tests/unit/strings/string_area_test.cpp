// String variables, the growth of the temporary area and the expression patterns.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/strings/string_area.h"
#include "tests/unit/strings/strings_fixture.h"

namespace ralto {
namespace {

using StringAreaTest = StringsTest;

TEST_F(StringAreaTest, AssignAbsentAndEmpty) {
  StringValue v = nullptr;
  EXPECT_EQ(AssignString(&v, nullptr), 2);
  EXPECT_EQ(v, nullptr);
  EXPECT_EQ(AssignString(&v, u""), 2);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(std::u16string(v), u"");
  EXPECT_EQ(AssignString(&v, u"hello"), 12);
  EXPECT_EQ(std::u16string(v), u"hello");
  EXPECT_EQ(AssignString(&v, nullptr), 2);
  EXPECT_EQ(v, nullptr);
}

TEST_F(StringAreaTest, AssignOwnTextOrATailOfIt) {
  StringValue v = nullptr;
  AssignString(&v, u"abcdefghijklmnop");
  AssignString(&v, v);
  EXPECT_EQ(std::u16string(v), u"abcdefghijklmnop");
  AssignString(&v, v + 10);
  EXPECT_EQ(std::u16string(v), u"klmnop");
  AssignString(&v, v + 6);
  EXPECT_EQ(std::u16string(v), u"");
}

TEST_F(StringAreaTest, GrowthAtFiveAndSixCharacters) {
  struct Case {
    std::int32_t count;
    std::int32_t capacity;
  };
  for (Case c : {Case{5, 16}, Case{6, 12 + 16384}}) {
    StopStringArea();
    StartStringArea();
    char* before = tempArea.base;
    char16_t* at = ReserveTemp(c.count, 0);
    EXPECT_EQ(tempArea.capacity, c.capacity) << c.count;
    EXPECT_EQ(tempArea.position, 2 * c.count);
    EXPECT_EQ(reinterpret_cast<char*>(at), tempArea.base);
    // The reserved characters and their terminator fit in the block.
    for (std::int32_t i = 0; i <= c.count; ++i) at[i] = u'x';
    if (c.count == 5) {
      EXPECT_EQ(tempArea.base, before);
    }
  }
}

TEST_F(StringAreaTest, ReserveTestsTheCurrentPositionNotAt) {
  AppendTemp(u"abcde");  // position 10
  ReserveTemp(1, 0);     // 12 >= 12 grows although at is 0
  EXPECT_EQ(tempArea.capacity, 12 + 16384);
  EXPECT_EQ(tempArea.position, 2);
}

TEST_F(StringAreaTest, AppendAndStore) {
  StringValue v = nullptr;
  std::int32_t s = tempArea.position;
  AppendTemp(u"one ");
  AppendTemp(nullptr);
  EXPECT_EQ(tempArea.position, 8);
  EXPECT_EQ(AreaText(s), u"one ");
  AppendTemp(u"two");
  EXPECT_EQ(StoreTemp(&v, s), s);
  EXPECT_EQ(tempArea.position, s);
  EXPECT_EQ(std::u16string(v), u"one two");
}

TEST_F(StringAreaTest, StoreOfNothingGivesAPresentEmptyVariable) {
  AppendTemp(u"kept");
  StringValue v = nullptr;
  StoreTemp(&v, tempArea.position);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(std::u16string(v), u"");
  EXPECT_EQ(tempArea.position, 8);
}

TEST_F(StringAreaTest, ExpressionReadingItsOwnTarget) {
  StringValue v = nullptr;
  AssignString(&v, u"ab");
  for (int i = 0; i < 12; ++i) {
    std::int32_t s = tempArea.position;
    AppendTemp(v);
    AppendTemp(v);
    StoreTemp(&v, s);
  }
  EXPECT_EQ(std::u16string(v).size(), 2u << 12);
  EXPECT_EQ(std::u16string(v).substr(0, 6), u"ababab");
}

TEST_F(StringAreaTest, OffsetsInsideAndOutside) {
  AppendTemp(u"abc");
  EXPECT_EQ(TempOffsetOf(tempArea.base), 1);
  EXPECT_EQ(TempOffsetOf(tempArea.base + tempArea.position), tempArea.position + 1);
  EXPECT_EQ(TempOffsetOf(tempArea.base + tempArea.position + 2), 0);
  EXPECT_EQ(TempOffsetOf(tempArea.base - 2), 0);
  EXPECT_EQ(TempOffsetOf(u"abc"), 0);
  EXPECT_EQ(TempPointerAt(3), reinterpret_cast<char16_t*>(tempArea.base + 2));
}

TEST_F(StringAreaTest, OffsetSurvivesAGrowthThatMovesTheBlock) {
  AppendTemp(u"text");
  std::int32_t offset = TempOffsetOf(TempText(2));
  // Holding a block right behind the area keeps a resize from growing it in place.
  StringValue fence = nullptr;
  AssignString(&fence, u"fence");
  char* before = tempArea.base;
  ReserveTemp(5000, tempArea.position);
  EXPECT_NE(tempArea.base, before);
  EXPECT_EQ(std::u16string(TempPointerAt(offset), 3), u"ext");
}

TEST_F(StringAreaTest, DropAndReset) {
  AppendTemp(u"abcdef");
  EXPECT_EQ(DropTempChars(2), 4);
  EXPECT_EQ(tempArea.position, 8);
  EXPECT_EQ(ResetTemp(2), 2);
  EXPECT_EQ(tempArea.position, 2);
  EXPECT_EQ(AreaText(0), u"a");
}

TEST(CopyCharsTest, CopiesPairsAndEndsAtCount) {
  struct Case {
    std::int32_t count;
    std::u16string expected;
  };
  for (const Case& c : {Case{0, u""}, Case{1, u"a"}, Case{3, u"abc"}, Case{4, u"abcd"}}) {
    char16_t destination[8];
    std::fill(std::begin(destination), std::end(destination), u'#');
    CopyChars(destination, u"abcdef", c.count);
    EXPECT_EQ(std::u16string(destination), c.expected);
    // Nothing is written beyond destination[count].
    for (std::int32_t i = c.count + 1; i < 8; ++i) EXPECT_EQ(destination[i], u'#') << i;
  }
}

TEST(StringHeapDeathTest, AReserveBeyondTwoGigabytesStopsTheProcess) {
  EXPECT_DEATH(
      {
        StartStringArea();
        ReserveTemp(0x40000000, 0);
      },
      "out of memory for strings");
}

}  // namespace
}  // namespace ralto
