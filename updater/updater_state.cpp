// The update run's variables and the fixed order in which the runtime is started and stopped.
#include "updater/updater_state.h"

#include "platform/heap.h"
#include "platform/process.h"
#include "runtime/files/sequential_file.h"
#include "runtime/net/network.h"
#include "runtime/strings/command_line.h"
#include "runtime/strings/heaps.h"
#include "runtime/ui/message_box.h"

namespace ralto {

UpdaterState updater;

void StartRuntime() {
  // Before the arguments, and the password with them, are read, and before any file is written.
  sys::ProtectProcessMemory();
  sys::ProtectProcessWrites();
  updater = UpdaterState{};
  generalHeap = sys::HeapCreate(0, 4096, 0);
  StartStringArea();
  InitFileTable();
  CreateArgumentCursor();
  // Nothing in the run depends on the common controls or COM, so their failure is of no concern.
  StartUserInterface();
  AssignString(&updater.lineBreak, u"\r\n");
  StartNetwork();
  updater.argCount = CommandArgumentCount();

  // The endpoints are chosen when the program is configured.
  AssignString(&updater.ipQueryUrl, RALTO_IP_QUERY_URL);
  AssignString(&updater.updateBase, RALTO_UPDATE_BASE);
  AssignString(&updater.host, u"");
  AssignString(&updater.checkFile, CheckFileName);
  AssignString(&updater.ipFile, IpFileName);
  AssignString(&updater.resultFile, ResultFileName);
  AssignString(&updater.oldIp, u"");
}

void StopRuntime() {
  StopNetwork();
  CloseAllFiles();
  StopStringArea();
  sys::HeapDestroy(generalHeap);
  generalHeap = nullptr;
  sys::ExitProcess(0);
}

}  // namespace ralto
