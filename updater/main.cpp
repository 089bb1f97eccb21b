// The program's entry: start the runtime, make one update pass, shut down with exit code 0.
#include "updater/update_pass.h"
#include "updater/updater_state.h"

#ifdef _WIN32
#include <windows.h>

// A window-less program of the GUI subsystem: no console opens when it starts, and its
// arguments come from GetCommandLineW, not from here.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  ralto::StartRuntime();
  ralto::RunUpdatePass();
  ralto::StopRuntime();
  return 0;
}
#else
#include "platform/process.h"

int main(int argc, char** argv) {
  // Taken from here, not from /proc: it may not be mounted, and ps shows this very memory.
  sys::TakeArguments(argc, argv);
  ralto::StartRuntime();
  ralto::RunUpdatePass();
  ralto::StopRuntime();
}
#endif
