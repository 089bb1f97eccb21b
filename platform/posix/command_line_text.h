// The text the POSIX GetCommandLineW stands for: the process's arguments as one command line.
#pragma once
#include <string>

namespace sys {

// The UTF-8 arguments (program name first) joined by single spaces, each one's double quotes
// left out, and each one that is then empty or holds a space wrapped in double quotes, so
// that splitting the line gives back exactly these arguments. Ill-formed UTF-8 becomes U+FFFD.
std::u16string JoinCommandLine(int argc, const char* const* argv);

}  // namespace sys
