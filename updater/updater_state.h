// The global variables of the update run, and the runtime's start-up and shutdown around it.
#pragma once
#include <cstdint>

#include "runtime/strings/string_area.h"

namespace ralto {

// The working files, bare names in the working folder. Every file the run writes is in
// WorkingFiles, so that the temporaries a killed run left of any of them are cleared.
inline constexpr char16_t CheckFileName[] = u"raltoIP.chk";
inline constexpr char16_t IpFileName[] = u"raltoIP.log";
inline constexpr char16_t RequestLogName[] = u"raltoUp.log";
inline constexpr char16_t ResultFileName[] = u"ralto.log";
inline constexpr char16_t HoldFileName[] = u"raltoHold.chk";
inline constexpr const char16_t* WorkingFiles[] = {CheckFileName, IpFileName, RequestLogName,
                                                   ResultFileName, HoldFileName};
// The record of an answered update that the check file refused, kept until it takes the check
// file's place. It grows in the check file's temporary, so it has none of its own to clear, and
// no clearing may remove it.
inline constexpr char16_t KeptRecordName[] = u"raltoIP.chk.new";

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
  std::int32_t checkAge;  // seconds since the record was last written (UnknownAge: none)
  StringValue oldIp;
  StringValue newIp;
  StringValue ipv4;  // the IP answers' first lines over each family asked
  StringValue ipv6;
  StringValue updateUrl;
  StringValue answer;
};
extern UpdaterState updater;

// Sets up heaps, string area, files, arguments, user interface and network, then the constants.
void StartRuntime();
// Tears the runtime down in the reverse order and ends the process with exit code 0.
[[noreturn]] void StopRuntime();

}  // namespace ralto
