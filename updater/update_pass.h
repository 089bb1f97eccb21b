// The one update pass: rate limit, IP query, comparison, update request and its report.
#pragma once

namespace ralto {

// Reads and writes the working files in the current directory and reports in message boxes.
void RunUpdatePass();

}  // namespace ralto
