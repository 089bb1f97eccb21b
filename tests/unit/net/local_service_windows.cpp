// The local dyndns2 test service for the tests under Wine: a Windows program cannot start the
// Linux service, so the test run starts it (service-fixture) and names its port file in
// RALTO_SERVICE_PORT_FILE.
#include <cstdlib>
#include <fstream>

#include "local_service.h"

namespace ralto {

LocalService::LocalService() {
  const char* portFile = std::getenv("RALTO_SERVICE_PORT_FILE");
  if (!portFile) return;
  std::ifstream(portFile) >> port_;
}

// The test run stops the service.
LocalService::~LocalService() = default;

}  // namespace ralto
