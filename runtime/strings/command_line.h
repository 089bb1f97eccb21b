// The process's command line split into arguments, and the cursor of the next argument.
#pragma once
#include <cstdint>

namespace ralto {

struct ArgumentCursor {
  std::int32_t nextIndex;
};
extern ArgumentCursor* argumentCursor;

// Allocates the cursor zero-filled in the general heap.
void CreateArgumentCursor();
// Number of arguments after the program name.
std::int32_t CommandArgumentCount();
// Argument index (negative: the cursor's next one) into the area at at, quotes removed;
// the empty text when there is no such argument.
void CommandArgument(std::int32_t index, std::int32_t at);

}  // namespace ralto
