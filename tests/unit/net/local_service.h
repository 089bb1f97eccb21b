// The local dyndns2 test service on a loopback port, and its control requests, for the
// download tests: a child process of the test on Linux, started by the test run under Wine.
#pragma once
#include <string>

#include <sys/types.h>

namespace ralto {

class LocalService {
 public:
  // Starts the service (or finds the one the test run started) and reads its port; port() is
  // 0 when there is none.
  LocalService();
  // Ends a service it started and waits for it.
  ~LocalService();
  LocalService(const LocalService&) = delete;
  LocalService& operator=(const LocalService&) = delete;

  int port() const { return port_; }
  // http://127.0.0.1:port followed by path.
  std::string Url(const std::string& path) const;
  // The JSON answer of GET /_control?query; empty when the request failed.
  std::string Control(const std::string& query) const;
  // The number of requests served since the start (control requests not counted).
  int RequestCount() const;

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace ralto
