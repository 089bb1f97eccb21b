// The local dyndns2 test service's control requests over libcurl.
#include "local_service.h"

#include <curl/curl.h>

#include <cstdlib>

namespace ralto {
namespace {

std::size_t AppendToString(char* data, std::size_t size, std::size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

}  // namespace

std::string LocalService::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string LocalService::Control(const std::string& query) const {
  std::string answer;
  CURL* curl = curl_easy_init();
  if (!curl) return answer;
  std::string url = Url("/_control?" + query);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROXY, "");
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendToString);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
  if (curl_easy_perform(curl) != CURLE_OK) answer.clear();
  curl_easy_cleanup(curl);
  return answer;
}

int LocalService::RequestCount() const {
  std::string state = Control("");
  std::size_t at = state.find("\"requests\":");
  return at == std::string::npos ? -1 : std::atoi(state.c_str() + at + 11);
}

}  // namespace ralto
