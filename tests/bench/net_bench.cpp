// Percent-encoding against libcurl's escape, and a 100 MB download against the curl command,
// both from the local service on loopback.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "../unit/net/local_service.h"
#include "platform/heap.h"
#include "runtime/net/download.h"
#include "runtime/net/network.h"
#include "runtime/net/percent_encode.h"
#include "runtime/strings/heaps.h"
#include "runtime/strings/string_area.h"
#include "runtime/strings/text_convert.h"

namespace ralto {
namespace {

constexpr std::int64_t BigBody = 100 * 1024 * 1024;

void StartRuntime() {
  static bool started = false;
  if (started) return;
  started = true;
  generalHeap = sys::HeapCreate(0, 4096, 0);
  StartStringArea();
  StartNetwork();
}

// 1 KiB of query-like text: letters, separators, characters to escape, umlauts, euro signs.
std::u16string MixedText() {
  const std::u16string piece =
      u"Gr\u00FC\u00DFe aus K\u00F6ln, 100% sicher: a+b=c & d/e?f #tag [x] "
      u"{y} ~z \u20AC ";
  std::u16string text;
  while (text.size() < 1024) text += piece;
  text.resize(1024);
  return text;
}

void BM_PercentEncode(benchmark::State& state) {
  StartRuntime();
  std::u16string text = MixedText();
  for (auto _ : state) {
    benchmark::DoNotOptimize(PercentEncode(text.c_str(), EncodingUtf8, 0));
    benchmark::DoNotOptimize(tempArea.base);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size() * 2));
}
BENCHMARK(BM_PercentEncode);

// The same job done with libcurl's escape: UTF-16 to UTF-8, escape, back into the area.
void BM_CurlEscapeFromText(benchmark::State& state) {
  StartRuntime();
  std::u16string text = MixedText();
  CURL* curl = curl_easy_init();
  for (auto _ : state) {
    char* bytes = ToUtf8Bytes(text.c_str());
    char* escaped = curl_easy_escape(curl, bytes, 0);
    AnsiToTemp(escaped, 0);
    curl_free(escaped);
    FreeUtf8Bytes(bytes);
    benchmark::DoNotOptimize(tempArea.base);
  }
  curl_easy_cleanup(curl);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size() * 2));
}
BENCHMARK(BM_CurlEscapeFromText);

// libcurl's escape alone, on bytes already converted: the floor for the escaping step.
void BM_CurlEscapeBytesOnly(benchmark::State& state) {
  StartRuntime();
  std::u16string text = MixedText();
  char* bytes = ToUtf8Bytes(text.c_str());
  CURL* curl = curl_easy_init();
  for (auto _ : state) {
    char* escaped = curl_easy_escape(curl, bytes, 0);
    benchmark::DoNotOptimize(escaped);
    curl_free(escaped);
  }
  curl_easy_cleanup(curl);
  FreeUtf8Bytes(bytes);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size() * 2));
}
BENCHMARK(BM_CurlEscapeBytesOnly);

// One service for the download benchmarks, serving a 100 MB body at /big; ended at exit.
LocalService& BigBodyService() {
  static LocalService service;
  static bool configured = [] {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
    return !service.Control("mode=big&bytes=" + std::to_string(BigBody) + "&path=/big").empty();
  }();
  benchmark::DoNotOptimize(configured);
  return service;
}

std::string TargetFile() {
  return "/tmp/ralto-net-bench-" + std::to_string(getpid());
}

void BM_FetchUrlToFile100MB(benchmark::State& state) {
  StartRuntime();
  LocalService& service = BigBodyService();
  std::string url = service.Url("/big");
  std::string file = TargetFile();
  std::u16string wideUrl(url.begin(), url.end());
  std::u16string wideFile(file.begin(), file.end());
  for (auto _ : state) {
    if (FetchUrlToFile(wideUrl.c_str(), wideFile.c_str()) != 1) state.SkipWithError("failed");
  }
  std::remove(file.c_str());
  state.SetBytesProcessed(state.iterations() * BigBody);
}
BENCHMARK(BM_FetchUrlToFile100MB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

void BM_CurlCommand100MB(benchmark::State& state) {
  LocalService& service = BigBodyService();
  std::string file = TargetFile();
  std::string command = "curl -s -o " + file + " " + service.Url("/big");
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("failed");
  }
  std::remove(file.c_str());
  state.SetBytesProcessed(state.iterations() * BigBody);
}
BENCHMARK(BM_CurlCommand100MB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

}  // namespace
}  // namespace ralto
