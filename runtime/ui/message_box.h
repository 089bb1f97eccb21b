// The modal message box and the treatment of the thread's other windows around it.
#pragma once
#include <cstdint>

namespace ralto {

// The id of the button that closed the box; 0 when it could not be shown.
std::int32_t ShowMessage(const char16_t* title, const char16_t* text, std::uint32_t type = 0);
// Registers the common-control classes and starts COM; the result of the latter.
std::int32_t StartUserInterface();

}  // namespace ralto
