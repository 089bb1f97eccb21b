// The program's entry: start the runtime, make one update pass, shut down with exit code 0.
#include "updater/update_pass.h"
#include "updater/updater_state.h"

int main() {
  ralto::StartRuntime();
  ralto::RunUpdatePass();
  ralto::StopRuntime();
}
