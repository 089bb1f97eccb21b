// The update pass from the argument check to its report, with its boxes and working files.
#include "updater/update_pass.h"

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <limits>

#include "platform/folder_lock.h"
#include "platform/window.h"
#include "runtime/files/date.h"
#include "runtime/files/file_system.h"
#include "runtime/files/line_reader.h"
#include "runtime/files/sequential_file.h"
#include "runtime/files/temporary_file.h"
#include "runtime/net/download.h"
#include "runtime/strings/command_line.h"
#include "runtime/strings/string_ops.h"
#include "runtime/strings/text_convert.h"
#include "runtime/ui/message_box.h"
#include "updater/hold_file.h"
#include "updater/update_url.h"
#include "updater/updater_state.h"

namespace ralto {
namespace {

constexpr std::int32_t MinimumCheckAge = 1800;  // seconds, between updates
// Providers expire a host that sees no update for a month or so: an unchanged address is sent
// again once the record is this old (never for 0).
static_assert(RALTO_REFRESH_DAYS >= 0 && RALTO_REFRESH_DAYS <= 24855,
              "RALTO_REFRESH_DAYS: 0 to 24855 days, the seconds of a signed 32-bit age");
constexpr std::int32_t RefreshAge = RALTO_REFRESH_DAYS * 86400;  // seconds
constexpr std::uint32_t AnswerPauseMs = 250;
constexpr DateValue InvalidDate = -1;
// The families the IP query goes out over, each on its own: never the one libcurl would
// prefer, which on a dual-stack line flips the address recorded from one family to the other.
constexpr std::uint32_t QueryFamilies = RALTO_QUERY_FAMILIES;
// The age of a date that cannot be told (past 2038), or of no record at all. Every rule reads
// it as a clock set back far: it blocks nothing, holds nothing off and refreshes nothing. No
// difference of two dates gives it.
constexpr std::int32_t UnknownAge = std::numeric_limits<std::int32_t>::min();

// Compared exactly: "Silent" or "silent " is a run that reports.
bool IsSilent() {
  return StringsEqual(updater.mode, u"silent") != 0;
}

void StoreArgument(StringValue* variable, std::int32_t index) {
  const std::int32_t start = tempArea.position;
  CommandArgument(index, start);
  StoreTemp(variable, start);
}

// The password leaves the command line as soon as it is read: ps, /proc and the journal's
// record of the sender read it there, and the run may wait long after this (a slow server).
void TakeArguments() {
  StoreArgument(&updater.host, 0);
  StoreArgument(&updater.user, 1);
  StoreArgument(&updater.pw, 2);
  StoreArgument(&updater.mode, 3);
  HideCommandArguments(2, 3);
}

// Only the first line counts; file 0 is closed for the next file.
void StoreFirstLine(StringValue* variable) {
  const std::int32_t start = tempArea.position;
  ReadTextLine(0, start);
  StoreTemp(variable, start);
  CloseFileSlot(0);
}

// The one box a pass ends with, by the positions of its title and text in the area; a pass
// that ends quietly has none. Every box ends the pass, so it is shown only after the pass has
// let go of file 0 and the folder: a box nobody dismisses must not hold off the runs after it.
struct EndBox {
  std::int32_t title = -1;
  std::int32_t text = -1;
};

// Each text ends one unit past its terminator, so that the next one cannot overwrite it.
std::int32_t KeepInArea(std::initializer_list<const char16_t*> pieces) {
  const std::int32_t start = tempArea.position;
  for (const char16_t* piece : pieces) AppendTemp(piece);
  ReserveTemp(1, tempArea.position);
  return start;
}

EndBox ComposeBox(const char16_t* title, std::initializer_list<const char16_t*> pieces) {
  const std::int32_t titleAt = KeepInArea({title});
  return EndBox{titleAt, KeepInArea(pieces)};
}

// A working file the pass could not write or replace stops it: a person who runs it verbose
// to find out why the address is not updated learns which file, a scheduled run stays silent.
EndBox UnwritableBox(const char16_t* file) {
  if (IsSilent()) return {};
  return ComposeBox(u"Fehler:", {u"Kann Datei nicht schreiben: ", file});
}

// Digits 1 to 9 only: an answer starting with 0, a sign, a letter or markup is no address.
// Nor is one of the other family (an IPv6 address holds a colon, an IPv4 one none): behind a
// proxy only the way to the proxy keeps to the family asked for, and an address of the other
// family would replace the record the host keeps for this one.
bool LooksLikeAddress(const char16_t* ip, std::uint32_t family) {
  const std::int32_t start = tempArea.position;
  LeftChars(ip, 1, start);
  const std::int64_t firstDigit = ToInteger(TempText(start));
  ResetTemp(start);
  return firstDigit >= 1 && (FindText(ip, u":") != 0) == (family == DownloadIpv6Only);
}

bool AnswersLookLikeAddresses() {
  return (!(QueryFamilies & DownloadIpv4Only) ||
          LooksLikeAddress(updater.ipv4, DownloadIpv4Only)) &&
         (!(QueryFamilies & DownloadIpv6Only) || LooksLikeAddress(updater.ipv6, DownloadIpv6Only));
}

// When a file was last written: the later of its creation and its last write. A file
// written in place keeps its creation time (on Linux its birth), and one renamed onto a name
// on Windows may get the creation time of the file it replaced (NTFS), so neither time alone
// tells. InvalidDate when either cannot be told.
DateValue LastWritten(const char16_t* file) {
  const DateValue created = FileTimestamp(file, TimestampCreation);
  const DateValue written = FileTimestamp(file, TimestampLastWrite);
  if (created == InvalidDate || written == InvalidDate) return InvalidDate;
  return created > written ? created : written;
}

// The record of the last answered update: the check file, or the record kept beside it where
// the check file refused one after the answer. The kept one is newer, and lands on the check
// file first where it can now; a check file deleted to force an update takes it along. The
// name to read the record from.
const char16_t* LandKeptRecord() {
  const char16_t* check = updater.checkFile;
  if (!FileExists(KeptRecordName)) return check;
  // One that cannot be removed is the record all the same, and lands.
  if (!FileExists(check) && RemoveFile(KeptRecordName, RemoveClearReadOnly)) return check;
  // Written in place but not removed, it holds what the check file holds, and is read there
  // until it goes: a newer record then replaces it rather than land past it.
  return LandCopy(KeptRecordName, false, check) && !FileExists(KeptRecordName) ? check
                                                                                : KeptRecordName;
}

// Seconds from date to now; UnknownAge when either cannot be told.
std::int32_t AgeOf(DateValue date) {
  const DateValue now = CurrentDate();
  if (date == InvalidDate || now == InvalidDate) return UnknownAge;
  return now - date;
}

// Within the half-hour of an update. One from the future does not count: after the clock was
// set back it would block for as long as it had been ahead, a year or more.
bool WithinHalfHour(std::int32_t age) {
  return age >= 0 && age < MinimumCheckAge;
}

EndBox IntervalBox() {
  if (IsSilent()) return {};
  return ComposeBox(
      u"Fehler in ip-Abfrage-Intervall:",
      {u"Intervall kleiner 30 Minuten!", updater.lineBreak, u"Programm wird beendet."});
}

// The hold-off of a try-again answer holds for the half-hour from the hold file's last write,
// and also while that lies in the future by no more than the half-hour (a clock set back a
// little); further ahead, the clock was set back and it does not hold.
bool HeldOff() {
  const std::int32_t age = AgeOf(LastWritten(HoldFileName));
  return age >= -MinimumCheckAge && age < MinimumCheckAge;
}

// The unchanged address is sent again to keep the host alive at the provider.
bool RefreshDue() {
  return RefreshAge > 0 && updater.checkAge >= RefreshAge;
}

// The answered update's record takes the check file's place; where it cannot (a rename and a
// write refused after the answer: a holder, a full disk, a mount), it is kept beside it for the
// next runs, which read it first. A kept record is replaced, never landed past: it would land
// later over the newer one. False when the check file did not take it.
bool LandRecord(const PreparedCopy& fresh, bool keptBefore) {
  if (!keptBefore && LandCopy(fresh.temporary, fresh.inPlace, updater.checkFile)) return true;
  // Refused too (a folder planted under the name), the answer is lost and the update goes again.
  static_cast<void>(ReplaceWithTemporary(fresh.temporary, KeptRecordName, true));
  return false;
}

bool IsAcceptedAnswer(const char16_t* answer) {
  return FindText(answer, u"nochg") != 0 || FindText(answer, u"good") != 0;
}

// Whether the body begins with word, in the text form its byte-order mark names: UTF-8 with
// or without one, or UTF-16 in either byte order.
// wholeWord: and the word ends there, with the body or a space or control character (the
// bytes kept reach past the longest word in UTF-16).
bool BodyBeginsWith(const BodyStart& start, const char* word, bool wholeWord = false) {
  const std::uint8_t* bytes = start.bytes;
  int at = 0;
  int width = 1;  // bytes a character
  int low = 0;    // where in them the ASCII byte is
  if (start.length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    at = 3;
  } else if (start.length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    at = 2;
    width = 2;
  } else if (start.length >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
    at = 2;
    width = 2;
    low = 1;
  }
  for (; *word; ++word, at += width) {
    if (at + width > start.length || bytes[at + low] != static_cast<std::uint8_t>(*word)) {
      return false;
    }
    if (width == 2 && bytes[at + 1 - low] != 0) return false;
  }
  if (!wholeWord || at + width > start.length) return true;
  return bytes[at + low] <= ' ' && (width == 1 || bytes[at + 1 - low] == 0);
}

// The provider's failure on its side, to be tried again later: a body that begins with 911 or
// dnserr, after a byte-order mark if there is one. Judged by the bytes that came, so that an
// answer whose body could not be kept is judged too.
bool AsksToTryAgain(const BodyStart& start) {
  return BodyBeginsWith(start, "911") || BodyBeginsWith(start, "dnserr");
}

// A refusal only the user can lift (the account, the host, the client): the providers count
// sending again before that as abuse. Judged as the try-again answer, by a first word that
// ends at the body's end or at a space or control character.
const char* RefusalWord(const BodyStart& start) {
  for (const char* word :
       {"badauth", "!donator", "notfqdn", "nohost", "numhost", "abuse", "badagent", "badsys"}) {
    if (BodyBeginsWith(start, word, true)) return word;
  }
  return nullptr;
}

// A failed transfer shows no box in any mode; a verbose run says on Linux which one failed and
// why, in a line of its own that names neither the URL nor the password.
void ReportFailedTransfer(const char* transfer) {
  if (IsSilent()) return;
  const TransferEnd end = LastTransferEnd();
  char line[192];
  if (end.curlCode != 0) {
    std::snprintf(line, sizeof line, "ralto-update: %s failed: libcurl error %d (%s)", transfer,
                  static_cast<int>(end.curlCode), end.curlText);
  } else {
    std::snprintf(line, sizeof line, "ralto-update: %s failed: HTTP status %d", transfer,
                  static_cast<int>(end.httpStatus));
  }
  sys::ReportLine(line);
}

// Written fresh and put in place whole; the password in it is for the owner only, from the
// moment the file exists.
void WriteRequestLog() {
  OpenFileWithFlags(0, RequestLogName, OpenCreate, FileOwnerOnly | FileReplaceWhole);
  WriteText(0, updater.updateUrl);
  CloseFileSlot(0);
}

// Asks the IP-query URL over each family the build names and leaves the line to compare, record
// and send in newIp and in the IP file: the one answer, or for both families "<v4>,<v6>", as
// providers that take both want them in one request (one family alone deletes the other's
// record). Both must answer. False ends the pass with *box.
bool QueryAddress(EndBox* box) {
  UpdaterState& run = updater;
  for (const std::uint32_t family : {DownloadIpv4Only, DownloadIpv6Only}) {
    if (!(QueryFamilies & family)) continue;
    // An error page is no address: the query fails as if nothing had come. An address that
    // came but could not be kept here is this folder's fault, not the server's.
    const std::intptr_t query = FetchUrlToFile(run.ipQueryUrl, run.ipFile,
                                               DownloadBounded | DownloadErrorStatusFails | family);
    if (query == FetchFailed) {
      ReportFailedTransfer("the IP query");
      return false;
    }
    if (query != FetchStored) {
      *box = UnwritableBox(run.ipFile);
      return false;
    }
    if (OpenFileForRead(0, run.ipFile) == 0) {
      *box = ComposeBox(u"Fehler", {u"Url ", run.ipQueryUrl,
                                    u" zur Feststellung der eigenen WAN-IP nicht gefunden"});
      return false;
    }
    StoreFirstLine(family == DownloadIpv4Only ? &run.ipv4 : &run.ipv6);
  }
  if (QueryFamilies != (DownloadIpv4Only | DownloadIpv6Only)) {
    AssignString(&run.newIp, QueryFamilies == DownloadIpv4Only ? run.ipv4 : run.ipv6);
    return true;
  }
  const std::int32_t start = tempArea.position;
  AppendTemp(run.ipv4);
  AppendTemp(u",");
  AppendTemp(run.ipv6);
  StoreTemp(&run.newIp, start);
  // The IPv6 answer alone must not stay under the name, to be recorded as what was sent: a
  // line that does not land leaves no IP file, so no record is made and nothing is sent.
  if (RemoveFile(run.ipFile) == 0 ||
      OpenFileWithFlags(0, run.ipFile, OpenCreate, FileReplaceWhole) == 0) {
    *box = UnwritableBox(run.ipFile);
    return false;
  }
  WriteText(0, run.newIp);
  WriteText(0, u"\n");
  CloseFileSlot(0);
  return true;
}

// The pass from the check file on, with the working folder locked if it could be; file 0 may
// still be open when it returns.
EndBox RunLockedPass() {
  UpdaterState& run = updater;
  run.checkAge = UnknownAge;
  // The half-hour and the refresh both count from when the record was last written, and
  // nothing else tells them.
  const char16_t* recordName = LandKeptRecord();
  const bool recorded = OpenFileForRead(0, recordName) != 0;
  if (recorded) {
    run.checkAge = AgeOf(LastWritten(recordName));
    if (WithinHalfHour(run.checkAge)) return IntervalBox();
    StoreFirstLine(&run.oldIp);
  } else if (OpenFoundFileHeld()) {
    // Held by another program for longer than an open waits: the address it records is
    // unknown, and taking it for none would send the update again. The next run tries.
    return {};
  } else if (FileExists(recordName)) {
    // A record that is there but cannot be read is no "no record" either.
    if (IsSilent()) return {};
    return ComposeBox(u"Fehler:", {u"Kann Datei nicht lesen: ", recordName});
  }
  // A refusal stands while its record does: deleting the check file (forcing an update) or
  // another account lifts it. Nothing is asked while it stands.
  const HoldKind hold = ReadHold(&run.answer);
  if (hold == HoldOff && HeldOff()) return IntervalBox();
  if (hold == HoldRefused && recorded) {
    if (IsSilent()) return {};
    return ComposeBox(u"Meldung vom UpdateServer:", {run.answer});
  }

  EndBox queryBox;
  if (!QueryAddress(&queryBox)) return queryBox;

  if (StringsEqual(run.newIp, run.oldIp) && !RefreshDue()) {
    if (IsSilent()) return {};
    return ComposeBox(u"Ip-Abfrage:",
                      {u"IP-Adresse unverändert!", run.lineBreak, u"Programm wird beendet."});
  }
  if (!AnswersLookLikeAddresses()) {
    if (IsSilent()) return {};
    return ComposeBox(u"Fehler in ip-Abfrage:", {run.newIp});
  }

  // A request with a value silently emptied must never leave: nothing is sent or recorded.
  if (!BuildUpdateUrl(&run.updateUrl, run.updateBase, run.host, run.newIp, run.user, run.pw)) {
    return {};
  }
  // The record is made ready before anything goes out: a check file that could not be
  // replaced afterwards (no room, no inode, a folder under its name) would let the same update
  // go out again on every run.
  // A check file held by another program past the wait cannot be known to take the record:
  // the next run tries.
  PreparedCopy record;
  const CopyResult prepared = PrepareCopy(run.ipFile, run.checkFile, &record);
  if (prepared == CopyUnwritable) return UnwritableBox(run.checkFile);
  if (prepared != CopyPrepared) return {};
  if (!IsSilent()) WriteRequestLog();
  // A provider that is down never processed the update: nothing is recorded, so that the
  // next run sends it again; a refusal it did give (badauth with 401, say) is an answer, and
  // so is one whose status line came before the transfer broke off. Its "not now" (429, 5xx)
  // holds the next update off, as its "try again later" does. The request names the client,
  // and carries the account the way dyndns2 servers read it as well as in the query.
  BodyStart answerStart{};
  const RequestIdentity identity{u"ralto-update/" RALTO_VERSION, run.user, run.pw};
  const std::intptr_t update =
      FetchUrlToFile(run.updateUrl, run.resultFile, DownloadBounded | DownloadUnprocessedFails,
                     &answerStart, &identity);
  if (update == FetchFailed || update == FetchUnwritable || update == FetchServerBusy) {
    if (update != FetchUnwritable) ReportFailedTransfer("the update");
    RemoveTemporary(record.temporary);
    if (update == FetchServerBusy && !HoldOffUpdates()) return UnwritableBox(HoldFileName);
    return update == FetchUnwritable ? UnwritableBox(run.resultFile) : EndBox{};
  }
  // An answer whose body could not be kept was given all the same, and is recorded as
  // unreadable: sent again, it would be processed again. Whatever is under the answer's name
  // then is not this run's answer, and is never read.
  const bool readable = update == FetchStored && OpenFileForRead(0, run.resultFile) != 0;
  if (readable) StoreFirstLine(&run.answer);
  // An answer the server gave, a refusal included, is recorded and never repeated, but for
  // its own "try again later". A record that the check file refused is kept beside it, and no
  // box claims an update recorded: a verbose run names the file instead. Both holds are kept
  // apart from the record: a try-again never touches the check file, so that one answered to a
  // refresh does not put the next refresh off.
  const bool tryAgain = AsksToTryAgain(answerStart);
  const char* refusal = tryAgain ? nullptr : RefusalWord(answerStart);
  if (tryAgain) {
    RemoveTemporary(record.temporary);
    if (!HoldOffUpdates()) return UnwritableBox(HoldFileName);
  } else if (!LandRecord(record, recordName == KeptRecordName)) {
    return UnwritableBox(run.checkFile);
  } else if (!refusal) {
    ReleaseHold();
  } else {
    // An answer that could not be read is remembered by its word.
    if (!readable) {
      const std::int32_t word = tempArea.position;
      Utf8ToTemp(refusal, word);
      StoreTemp(&run.answer, word);
    }
    if (!KeepRefusal(run.answer)) return UnwritableBox(HoldFileName);
  }
  if (!readable) return ComposeBox(u"Fehler:", {u"Kann Ergebnisdatei nicht lesen"});
  PauseMs(AnswerPauseMs);

  const bool accepted = !tryAgain && IsAcceptedAnswer(run.answer);
  if (IsSilent()) {
    if (accepted) RemoveFile(run.resultFile);
    return {};
  }
  return ComposeBox(accepted ? u"Alles Gut:" : u"Meldung vom UpdateServer:", {run.answer});
}

}  // namespace

void RunUpdatePass() {
  if (updater.argCount != 4) {
    // Any argument from the third on may be the password, and the box can stay up for hours.
    HideCommandArguments(2, updater.argCount);
    ShowMessage(u"Parameterfehler:", u"Error! Parameter wie folgt angeben: host user pw silent");
    return;
  }
  TakeArguments();
  // One run per working folder: a run that overlaps one still busy there (a slow server, a
  // short schedule) ends without a trace. A folder that cannot be locked at all is worked in
  // unlocked, as a lone run would.
  sys::HANDLE folderLock = nullptr;
  switch (sys::LockFolder(u".", &folderLock)) {
    case sys::FolderLockHeld:
      return;
    case sys::FolderLockTaken:
      ClearLeftoverTemporaries(WorkingFiles);
      break;
    case sys::FolderLockUnavailable:
      break;
  }
  const EndBox box = RunLockedPass();
  // A run started while the box is up runs as if there were none: nothing of this one's is
  // held open or locked by then.
  CloseFileSlot(0);
  sys::UnlockFolder(folderLock);
  if (box.title >= 0) ShowMessage(TempText(box.title), TempText(box.text));
}

}  // namespace ralto
