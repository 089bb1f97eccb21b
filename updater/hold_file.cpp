// The hold file's content: a hold-off mark, or a refusal's mark with its account's digest and
// the refusal's first line.
#include "updater/hold_file.h"

#include <cstdint>

#include "runtime/files/file_system.h"
#include "runtime/files/line_reader.h"
#include "runtime/files/sequential_file.h"
#include "runtime/strings/string_ops.h"
#include "updater/updater_state.h"

namespace ralto {
namespace {

constexpr char16_t HoldOffMark[] = u"hold-off";
constexpr char16_t RefusalMark[] = u"refused ";
// The longest first line either mark makes, and then some: a longer one is no mark.
constexpr std::int32_t MarkUnits = 64;
// Enough for any provider's refusal; a server cannot make the file every run reads grow.
constexpr std::int32_t KeptLineUnits = 200;

// The refusal's first line for this run's account, appended to the area: the mark and 16 hex
// digits of FNV-1a (64 bits) over the UTF-16 units of host, user name and password, each
// ended by a 0 unit. The digest tells whether any of the three changed; it keeps no secret:
// a weak password can be found from it by trying, as from any fast digest. The folder and
// the file are their owner's, and a verbose run's request log holds the password itself.
void AppendRefusalMark() {
  std::uint64_t digest = 0xcbf29ce484222325u;
  for (const char16_t* text : {updater.host, updater.user, updater.pw}) {
    const std::int32_t units = TextLength(text) + 1;  // the terminator too
    for (std::int32_t i = 0; i < units; ++i) {
      const char16_t unit = i + 1 < units ? text[i] : u'\0';
      for (std::uint8_t byte :
           {static_cast<std::uint8_t>(unit & 0xFF), static_cast<std::uint8_t>(unit >> 8)}) {
        digest = (digest ^ byte) * 0x100000001b3u;
      }
    }
  }
  char16_t hex[17];
  for (int i = 15; i >= 0; --i, digest >>= 4) hex[i] = u"0123456789abcdef"[digest & 0xF];
  hex[16] = u'\0';
  AppendTemp(RefusalMark);
  AppendTemp(hex);
}

// Writes the area's text from start as the whole hold file, and drops it from the area.
bool WriteHold(std::int32_t start) {
  const bool opened =
      OpenFileWithFlags(0, HoldFileName, OpenCreate, FileOwnerOnly | FileReplaceWhole) != 0;
  // A text not written whole keeps the file from landing.
  WriteText(0, TempText(start));
  const bool landed = CloseFileSlot(0) != 0;
  ResetTemp(start);
  return opened && landed;
}

}  // namespace

HoldKind ReadHold(StringValue* line) {
  if (OpenFileForRead(0, HoldFileName) == 0) return HoldNone;
  const std::int32_t first = tempArea.position;
  ReadTextWithOptions(0, EncodingDefault, MarkUnits, first);
  ReserveTemp(1, tempArea.position);
  const std::int32_t mark = tempArea.position;
  AppendRefusalMark();
  HoldKind kind = HoldNone;
  if (StringsEqual(TempText(first), HoldOffMark)) {
    kind = HoldOff;
  } else if (StringsEqual(TempText(first), TempText(mark))) {
    kind = HoldRefused;
    ReadTextWithOptions(0, EncodingDefault, KeptLineUnits, first);
    StoreTemp(line, first);
  }
  ResetTemp(first);
  CloseFileSlot(0);
  return kind;
}

bool HoldOffUpdates() {
  const std::int32_t start = tempArea.position;
  AppendTemp(HoldOffMark);
  return WriteHold(start);
}

bool KeepRefusal(const char16_t* line) {
  const std::int32_t start = tempArea.position;
  AppendRefusalMark();
  AppendTemp(updater.lineBreak);
  LeftChars(line, KeptLineUnits, tempArea.position);
  return WriteHold(start);
}

void ReleaseHold() {
  RemoveFile(HoldFileName);
}

}  // namespace ralto
