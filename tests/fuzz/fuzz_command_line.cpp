// Command-line splitting on arbitrary lines, and the joined line that stands for
// GetCommandLineW split back into exactly the arguments it was joined from.
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/posix/command_line_text.h"
#include "runtime/strings/command_line.h"
#include "runtime/strings/text_convert.h"

namespace ralto::fuzz {
namespace {

std::u16string Argument(const char16_t* line, std::int32_t index) {
  CommandArgument(line, index, 0);
  return TempText(0);
}

// Any line: a count no larger than the line, arguments without quotes, the same arguments
// by number and by cursor, nothing past the last.
void SplitAnyLine(const std::u16string& line) {
  const char16_t* text = line.c_str();
  std::int32_t count = CommandArgumentCount(text);
  FUZZ_CHECK(count >= 0 && static_cast<std::size_t>(count) <= line.size());

  std::int32_t nextIndex = 0;
  for (std::int32_t i = 0; i <= count; ++i) {
    const char16_t* token = nullptr;
    std::int32_t length = ScanCommandLine(text, &nextIndex, &token);
    FUZZ_CHECK(token >= text && token + length <= text + line.size());
    if (i == count) {
      FUZZ_CHECK(length == 0 && *token == 0 && nextIndex == count);
    } else {
      FUZZ_CHECK(nextIndex == i + 1);
    }
  }

  std::vector<std::u16string> byNumber;
  for (std::int32_t i = 0; i <= count; ++i) {
    byNumber.push_back(Argument(text, i));
    FUZZ_CHECK(byNumber.back().find(u'"') == std::u16string::npos);
    FUZZ_CHECK(byNumber.back().size() <= line.size());
  }
  FUZZ_CHECK(byNumber.back().empty());
  argumentCursor->nextIndex = 0;
  for (std::int32_t i = 0; i <= count; ++i) FUZZ_CHECK(Argument(text, -1) == byNumber[i]);
}

// Arguments as the shell passes them (program name first): joined, then split again.
void JoinAndSplit(const std::vector<std::string>& arguments) {
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  std::u16string line = sys::JoinCommandLine(static_cast<int>(argv.size()), argv.data());
  FUZZ_CHECK(CommandArgumentCount(line.c_str()) == static_cast<std::int32_t>(argv.size()) - 1);
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    Utf8ToTemp(arguments[i].c_str(), 0);
    std::u16string expected = TempText(0);
    std::erase(expected, u'"');
    FUZZ_CHECK(Argument(line.c_str(), static_cast<std::int32_t>(i - 1)) == expected);
  }
}

}  // namespace
}  // namespace ralto::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ralto::fuzz;
  StartRuntimeOnce();
  if (!ralto::argumentCursor) ralto::CreateArgumentCursor();
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool()) {
    // Only the characters the splitter treats specially, and a few others, dense enough to
    // make quotes and spaces meet.
    static constexpr char16_t Alphabet[] = {u' ', u'"', u'a', u'\t', u'\\', 0xFFFD, 0xD800, u'b'};
    std::u16string line;
    while (in.remaining_bytes() > 0)
      line.push_back(Alphabet[in.ConsumeIntegral<std::uint8_t>() % 8]);
    SplitAnyLine(line);
  } else if (in.ConsumeBool()) {
    SplitAnyLine(ConsumeText(in, 4096));
  } else {
    std::vector<std::string> arguments;
    std::string rest = in.ConsumeRemainingBytesAsString();
    std::size_t start = 0;
    for (;;) {
      std::size_t end = rest.find('\0', start);
      arguments.push_back(rest.substr(start, end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
    JoinAndSplit(arguments);
  }
  ralto::ResetTemp(0);
  return 0;
}
