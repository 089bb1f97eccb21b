// The local dyndns2 test service as a child process of the test.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "local_service.h"

namespace ralto {

LocalService::LocalService() {
  int out[2];
  if (pipe(out) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    execlp("python3", "python3", RALTO_SOURCE_DIR "/tools/dyndns-service", "--port", "0",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  if (pid_ > 0) {
    // The first line is the port, printed before anything is served.
    FILE* stream = fdopen(out[0], "r");
    char line[32] = {};
    if (stream && std::fgets(line, sizeof line, stream)) port_ = std::atoi(line);
    if (stream) {
      std::fclose(stream);
    } else {
      close(out[0]);
    }
  } else {
    close(out[0]);
  }
}

LocalService::~LocalService() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status;
  waitpid(pid_, &status, 0);
}

}  // namespace ralto
