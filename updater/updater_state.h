// The global variables of the update run, and the runtime's start-up and shutdown around it.
#pragma once
#include <cstdint>

#include "runtime/strings/string_area.h"

namespace ralto {

struct UpdaterState {
  std::int32_t argCount;
  StringValue host;
  StringValue user;
  StringValue pw;
  StringValue mode;
  StringValue ipQueryUrl;
  StringValue updateBase;
  StringValue checkFile;
  StringValue ipFile;
  StringValue resultFile;
  StringValue lineBreak;
  std::int32_t checkAge;
  StringValue oldIp;
  StringValue newIp;
  StringValue updateUrl;
  StringValue answer;
};
extern UpdaterState updater;

// Sets up heaps, string area, files, arguments, user interface and network, then the constants.
void StartRuntime();
// Tears the runtime down in the reverse order and ends the process with exit code 0.
[[noreturn]] void StopRuntime();

}  // namespace ralto
