// The process's command line split into arguments, and the cursor of the next argument.
#pragma once
#include <cstdint>

namespace ralto {

struct ArgumentCursor {
  std::int32_t nextIndex;
};
extern ArgumentCursor* argumentCursor;

// Allocates the cursor zero-filled in the general heap; without memory it stays null, and
// fetching the cursor's next argument then gives the first one every time.
void CreateArgumentCursor();
// Number of arguments after the program name.
std::int32_t CommandArgumentCount();
// Argument index (negative: the cursor's next one) into the area at at, quotes removed;
// the empty text when there is no such argument.
void CommandArgument(std::int32_t index, std::int32_t at);

// Overwrites the arguments first to end - 1 with '*' in the process's own command line, so
// that no other process sees them there; the line still splits into as many arguments, and
// fetching one of them gives its '*'s from then on. Arguments that do not exist are skipped.
void HideCommandArguments(std::int32_t first, std::int32_t end);

// The same on any command line (program name first; it must not lie in the area).
std::int32_t CommandArgumentCount(const char16_t* line);
void CommandArgument(const char16_t* line, std::int32_t index, std::int32_t at);

// One walk over line (null reads as empty). token null counts: the number of arguments.
// Otherwise fetches the argument numbered *nextIndex: *token is its raw text (quotes still
// in it), the result its raw length, and *nextIndex moves past it; when there is no such
// argument, *token is the line's terminator, the result 0 and *nextIndex stays.
std::int32_t ScanCommandLine(const char16_t* line, std::int32_t* nextIndex, const char16_t** token);
// Copies at most count units, leaving out every double quote and stopping at a 0 unit, and
// terminates the copy. Returns the number of quotes left out.
std::int32_t StripQuotes(const char16_t* source, char16_t* destination, std::int32_t count);

}  // namespace ralto
