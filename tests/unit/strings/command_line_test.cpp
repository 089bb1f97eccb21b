// Splitting command lines, fetching arguments with the cursor, and the POSIX command line.
#include "runtime/strings/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process.h"
#ifndef _WIN32
#include "platform/posix/command_line_text.h"
#endif
#include "tests/unit/strings/strings_fixture.h"

namespace ralto {
namespace {

class CommandLineTest : public StringsTest {
 protected:
  void SetUp() override {
    StringsTest::SetUp();
    CreateArgumentCursor();
  }
  void TearDown() override {
    argumentCursor = nullptr;
    StringsTest::TearDown();
  }
  // The argument as the update run gets it: fetched into the area, the area left as found.
  static std::u16string Argument(const std::u16string& line, std::int32_t index) {
    std::int32_t s = tempArea.position;
    CommandArgument(line.c_str(), index, s);
    std::u16string text = AreaText(s);
    EXPECT_EQ(tempArea.position, s + 2 * static_cast<std::int32_t>(text.size()));
    ResetTemp(s);
    return text;
  }
};

TEST_F(CommandLineTest, WorkedExamples) {
  struct Case {
    std::u16string line;
    std::vector<std::u16string> arguments;
  };
  const Case cases[] = {
      {u"prog host user pw silent", {u"host", u"user", u"pw", u"silent"}},
      {u"\"C:\\My Folder\\Program.exe\" host  user   pw silent   ",
       {u"host", u"user", u"pw", u"silent"}},
      {u"prog \"a b\" c", {u"a b", u"c"}},
      {u"prog \"ab\"cd", {u"ab", u"cd"}},
      {u"prog ab\"c d\"e f", {u"abc de", u"f"}},
      {u"prog a\"b\"\"c d\" z", {u"abc d", u"z"}},
      {u"prog \"\" x", {u"", u"x"}},
      {u"prog \"unterminated arg", {u"unterminated arg"}},
      {u"prog ab\"", {u"ab"}},
      {u"prog \"", {u""}},
      {u"prog a\tb", {u"a\tb"}},
      {u"prog  ", {}},
      {u"\"prog\"host user", {u"host", u"user"}},
      // Quotes left open inside an unquoted argument run to the end.
      {u"prog a\"b c", {u"ab c"}},
      {u"prog \"\"\"", {u"", u""}},
      {u"   ", {}},
      {u"", {}},
      {u"prog C:\\dir\\ \\\"x\\\"", {u"C:\\dir\\", u"\\x\\"}},
  };
  for (const Case& c : cases) {
    auto count = static_cast<std::int32_t>(c.arguments.size());
    EXPECT_EQ(CommandArgumentCount(c.line.c_str()), count) << c.arguments.size();
    for (std::int32_t i = 0; i < count; ++i) EXPECT_EQ(Argument(c.line, i), c.arguments[i]);
    EXPECT_EQ(Argument(c.line, count), u"");
  }
}

TEST_F(CommandLineTest, CursorMovesOnlyOnASuccessfulFetch) {
  const std::u16string line = u"prog a b c d";
  EXPECT_EQ(Argument(line, 1), u"b");
  EXPECT_EQ(Argument(line, -1), u"c");
  EXPECT_EQ(Argument(line, -1), u"d");
  EXPECT_EQ(argumentCursor->nextIndex, 4);
  EXPECT_EQ(Argument(line, 5), u"");
  EXPECT_EQ(argumentCursor->nextIndex, 5);
  CommandArgumentCount(line.c_str());
  EXPECT_EQ(argumentCursor->nextIndex, 5);
  EXPECT_EQ(Argument(line, -1), u"");
  EXPECT_EQ(Argument(line, 0), u"a");
}

TEST_F(CommandLineTest, AHundredThousandArguments) {
  std::u16string line = u"prog";
  for (int i = 0; i < 100000; ++i) line += (i % 2 ? u" \"x y\"" : u" a");
  EXPECT_EQ(CommandArgumentCount(line.c_str()), 100000);
  EXPECT_EQ(Argument(line, 99999), u"x y");
  EXPECT_EQ(Argument(line, 99998), u"a");
}

TEST_F(CommandLineTest, ScanReturnsRawTokensAndTheTerminator) {
  const char16_t* line = u"prog a\"b c\" \"d\"";
  std::int32_t next = 0;
  const char16_t* token = nullptr;
  EXPECT_EQ(ScanCommandLine(line, &next, &token), 6);
  EXPECT_EQ(std::u16string(token, 6), u"a\"b c\"");
  EXPECT_EQ(ScanCommandLine(line, &next, &token), 1);
  EXPECT_EQ(*token, u'd');
  EXPECT_EQ(ScanCommandLine(line, &next, &token), 0);
  EXPECT_EQ(*token, 0);
  EXPECT_EQ(next, 2);
  // Not even a program name: the raw count is -1, the argument count 0.
  EXPECT_EQ(ScanCommandLine(nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(CommandArgumentCount(nullptr), 0);
}

TEST(StripQuotesTest, DropsQuotesAndStopsAtTheTerminator) {
  char16_t out[16];
  EXPECT_EQ(StripQuotes(u"\"a\"b\"", out, 5), 3);
  EXPECT_EQ(std::u16string(out), u"ab");
  EXPECT_EQ(StripQuotes(u"ab\"cd", out, 3), 1);
  EXPECT_EQ(std::u16string(out), u"ab");
  EXPECT_EQ(StripQuotes(u"ab", out, 10), 0);
  EXPECT_EQ(std::u16string(out), u"ab");
}

#ifndef _WIN32
// The POSIX command line must split back into the arguments the shell passed; Windows hands
// the program its command line as it was given.
TEST_F(CommandLineTest, JoinedArgumentsSplitBackIntoTheSame) {
  struct Case {
    std::vector<const char*> argv;
    std::u16string line;
    std::vector<std::u16string> arguments;
  };
  const Case cases[] = {
      {{"ralto-update", "my host", "", "p\"w", "silent"},
       u"ralto-update \"my host\" \"\" pw silent",
       {u"my host", u"", u"pw", u"silent"}},
      {{"/opt/my tools/ralto-update", " ", "\"", "a\tb", "\xC3\x84\xFF"},
       u"\"/opt/my tools/ralto-update\" \" \" \"\" a\tb \u00C4\uFFFD",
       {u" ", u"", u"a\tb", u"\u00C4\uFFFD"}},
      {{"prog", "  lead", "trail  ", "\"\"\"x y\"", "\\\""},
       u"prog \"  lead\" \"trail  \" \"x y\" \\",
       {u"  lead", u"trail  ", u"x y", u"\\"}},
  };
  for (const Case& c : cases) {
    std::u16string line = sys::JoinCommandLine(static_cast<int>(c.argv.size()), c.argv.data());
    EXPECT_EQ(line, c.line);
    auto count = static_cast<std::int32_t>(c.arguments.size());
    ASSERT_EQ(CommandArgumentCount(line.c_str()), count);
    for (std::int32_t i = 0; i < count; ++i) EXPECT_EQ(Argument(line, i), c.arguments[i]);
  }
}
#endif

// What the update run does to the password: gone from the process's own command line (on
// POSIX from the memory main's arguments came in, which ps reads), the line split as before.
TEST_F(CommandLineTest, TheProcessCommandLineStartsWithTheProgramAndHidesArguments) {
#ifndef _WIN32
  static char program[] = "/bin/command_line_test", spaced[] = "a b", quoted[] = "p\"w",
              last[] = "z";
  static char* argv[] = {program, spaced, quoted, last, nullptr};
  sys::TakeArguments(4, argv);
#endif
  std::u16string line = sys::GetCommandLineW();
  EXPECT_EQ(sys::GetCommandLineW(), sys::GetCommandLineW());
  EXPECT_NE(line.find(u"command_line_test"), std::u16string::npos);
  const std::int32_t count = CommandArgumentCount();
  std::vector<std::u16string> before;
  for (std::int32_t i = 0; i < count; ++i) before.push_back(Argument(line, i));
  HideCommandArguments(0, count);
  std::u16string hidden = sys::GetCommandLineW();
  ASSERT_EQ(hidden.size(), line.size());
  ASSERT_EQ(CommandArgumentCount(), count);
  for (std::int32_t i = 0; i < count; ++i) {
    EXPECT_EQ(Argument(hidden, i), std::u16string(before[i].size(), u'*')) << i;
  }
#ifndef _WIN32
  EXPECT_STREQ(program, "/bin/command_line_test");
  EXPECT_EQ(std::string(spaced) + "|" + quoted + "|" + last, "***|***|*");
#endif
}

}  // namespace
}  // namespace ralto
