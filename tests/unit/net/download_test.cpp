// FetchUrlToFile against the local test service over loopback: what is stored, what is left
// on disk after each kind of failure, redirects, the stall guard and asynchronous jobs.
#include "runtime/net/download.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <net/if.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdarg>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "local_service.h"
#include "platform/file_io.h"
#include "platform/heap.h"
#include "platform/sockets.h"
#include "runtime/net/download_job.h"
#include "runtime/net/network.h"
#include "runtime/strings/heaps.h"
#include "tests/unit/temp_folder.h"

// Every call of curl_easy_setopt in this test's link lands here first (-Wl,--wrap): the option
// is noted, and for refusedOption the answer is CURLE_UNKNOWN_OPTION, as from a libcurl that
// does not know it. It is set all the same, so that a download ignoring the answer would go on
// and be seen sending, rather than run without a write function.
namespace {
std::vector<CURLoption> optionsSeen;
CURLoption refusedOption = CURLOPT_LASTENTRY;
std::string redirectsSeen;  // the last CURLOPT_REDIR_PROTOCOLS_STR
}  // namespace
extern "C" CURLcode __real_curl_easy_setopt(CURL* curl, CURLoption option, ...);
extern "C" CURLcode __wrap_curl_easy_setopt(CURL* curl, CURLoption option, ...) {
  optionsSeen.push_back(option);
  va_list args;
  va_start(args, option);
  // The one argument, of the type the option's number range gives it; a pointer to code
  // travels like one to data on every target built.
  CURLcode result;
  if (option < CURLOPTTYPE_OBJECTPOINT) {
    result = __real_curl_easy_setopt(curl, option, va_arg(args, long));
  } else if (option >= CURLOPTTYPE_OFF_T && option < CURLOPTTYPE_BLOB) {
    result = __real_curl_easy_setopt(curl, option, va_arg(args, curl_off_t));
  } else {
    void* value = va_arg(args, void*);
    if (option == CURLOPT_REDIR_PROTOCOLS_STR) redirectsSeen = static_cast<const char*>(value);
    result = __real_curl_easy_setopt(curl, option, value);
  }
  va_end(args);
  return option == refusedOption ? CURLE_UNKNOWN_OPTION : result;
}

namespace ralto {
namespace {

namespace fs = std::filesystem;

std::u16string Wide(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// Sets or, for a null value, removes an environment variable, where libcurl looks for it.
void SetEnvironment(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value ? value : "");
#else
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
#endif
}

// A loopback port nobody listens on: bound once, then given up.
int ClosedPort() {
  auto s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  sys::closesocket(static_cast<sys::SOCKET>(s));
  return ntohs(address.sin_port);
}

#ifndef _WIN32
// True when the network namespace has no interface but loopback.
bool OnlyLoopback() {
  struct if_nameindex* interfaces = if_nameindex();
  if (!interfaces) return false;
  bool only = true;
  for (struct if_nameindex* i = interfaces; i->if_index != 0; ++i) {
    if (std::string(i->if_name) != "lo") only = false;
  }
  if_freenameindex(interfaces);
  return only;
}
#endif

class DownloadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    generalHeap = sys::HeapCreate(0, 4096, 0);
    StartNetwork();
    // A proxy from the surroundings would take the requests off loopback.
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
      SetEnvironment(name, nullptr);
    }
    service = new LocalService();
  }
  static void TearDownTestSuite() {
    delete service;
    service = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(service->port(), 0) << "the local service did not start";
    ASSERT_NE(service->Control("clear=1"), "");
    folder = MakeTempFolder("ralto-net-");
    ASSERT_FALSE(folder.empty());
    target = folder / "body.txt";
  }
  void TearDown() override { fs::remove_all(folder); }

  static void Fault(const std::string& rule) {
    ASSERT_NE(service->Control(rule), "") << "refused: " << rule;
  }

  std::intptr_t Fetch(const std::string& url, std::uint32_t flags = 0,
                      const RequestIdentity* identity = nullptr) {
    return FetchUrlToFile(Wide(url).c_str(), Wide(target.string()).c_str(), flags, nullptr,
                          identity);
  }

  // Waits for an asynchronous job's thread to let go of it.
  static void AwaitJob(DownloadJob* job) {
    while (!job->threadEnded.load(std::memory_order_acquire)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  static LocalService* service;
  fs::path folder;
  fs::path target;
};

LocalService* DownloadTest::service = nullptr;

TEST_F(DownloadTest, StoresTheBodyWhateverTheStatus) {
  Fault("mode=raw&status=200&path=/empty");
  EXPECT_EQ(Fetch(service->Url("/empty")), 1);
  ASSERT_TRUE(fs::exists(target));
  EXPECT_EQ(fs::file_size(target), 0u);

  WriteFile(target, "an older and longer content");
  EXPECT_EQ(Fetch(service->Url("/missing")), 1);
  EXPECT_EQ(ReadFile(target), "not found\n");

  Fault("mode=status&status=500&body=server%20trouble&path=/ipCheck.php");
  EXPECT_EQ(Fetch(service->Url("/ipCheck.php")), 1);
  EXPECT_EQ(ReadFile(target), "server trouble");
}

TEST_F(DownloadTest, StoresALargeBodyWhole) {
  Fault("mode=big&bytes=3000001&prefix=&fill=0123456789&path=/big");
  EXPECT_EQ(Fetch(service->Url("/big")), 1);
  std::string body = ReadFile(target);
  ASSERT_EQ(body.size(), 3000001u);
  EXPECT_EQ(body.substr(2999990), "01234567890");
  // Bounded, a body past 1 MiB with no length told fails the IP query; an update answered so
  // was processed all the same: its answer is lost, never failed.
  Fault("mode=big&length=none&path=/big&bytes=" + std::to_string(DownloadMaxBytes + 1));
  EXPECT_EQ(Fetch(service->Url("/big"), DownloadBounded | DownloadErrorStatusFails), FetchFailed);
  EXPECT_EQ(Fetch(service->Url("/big"), DownloadBounded | DownloadUnprocessedFails),
            FetchAnswerLost);
}

TEST_F(DownloadTest, FailedConnectionLeavesNoFile) {
  std::vector<std::string> urls = {
      "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/ipCheck.php",
      "",  // present but empty: the file is created, then deleted again
      "notascheme://127.0.0.1/",
  };
  // Resolving a name asks a name server, which only the loopback-only test namespace keeps
  // from leaving the machine; the Windows build cannot see the namespace's interfaces.
#ifndef _WIN32
  if (OnlyLoopback()) {
    urls.push_back("http://no-such-host.invalid/ipCheck.php");
  } else {
    ADD_FAILURE() << "run inside a namespace with only loopback (unshare -rn) to test a "
                     "name that does not resolve";
  }
#endif
  for (const std::string& url : urls) {
    WriteFile(target, "from before");
    EXPECT_EQ(Fetch(url), 0) << url;
    EXPECT_FALSE(fs::exists(target)) << url;
  }
}

#ifdef _WIN32
TEST_F(DownloadTest, AFailedTransferWaitsAMomentForAHeldFile) {
  WriteFile(target, "from before");  // held without sharing for a moment, as scanners do
  sys::HANDLE holder = sys::CreateFileW(Wide(target.string()).c_str(), sys::GENERIC_READ, 0,
                                        nullptr, sys::OPEN_EXISTING, 0, nullptr);
  std::thread letGo([=] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sys::CloseHandle(holder);
  });
  EXPECT_EQ(Fetch(""), 0);
  letGo.join();
  EXPECT_FALSE(fs::exists(target));
}
#endif

TEST_F(DownloadTest, AbsentArgumentsTouchNothing) {
  WriteFile(target, "from before");
  std::u16string url = Wide(service->Url("/ipCheck.php"));
  EXPECT_EQ(FetchUrlToFile(nullptr, Wide(target.string()).c_str()), 0);
  EXPECT_EQ(FetchUrlToFile(url.c_str(), nullptr), 0);
  EXPECT_EQ(FetchUrlToFile(url.c_str(), nullptr, DownloadAsync), 0);
  EXPECT_EQ(ReadFile(target), "from before");
}

TEST_F(DownloadTest, UncreatableTargetChangesNothing) {
  fs::create_directory(target);
  WriteFile(target / "inside", "kept");
  int before = service->RequestCount();
  EXPECT_EQ(Fetch(service->Url("/ipCheck.php")), FetchUnwritable);
  EXPECT_TRUE(fs::is_directory(target));
  EXPECT_EQ(ReadFile(target / "inside"), "kept");
  EXPECT_EQ(service->RequestCount(), before);  // nothing was requested

  std::u16string inMissingFolder = Wide((folder / "absent" / "body.txt").string());
  EXPECT_EQ(FetchUrlToFile(Wide(service->Url("/ipCheck.php")).c_str(), inMissingFolder.c_str()),
            FetchUnwritable);
  EXPECT_FALSE(fs::exists(folder / "absent"));
}

TEST_F(DownloadTest, RedirectFollowedOrStoredItself) {
  Fault("mode=redirect&path=/ipCheck.php&count=1");
  EXPECT_EQ(Fetch(service->Url("/ipCheck.php")), 1);
  EXPECT_EQ(ReadFile(target), "203.0.113.7\n");

  Fault("mode=redirect&path=/ipCheck.php&count=1");
  EXPECT_EQ(Fetch(service->Url("/ipCheck.php"), DownloadNoRedirect), 1);
  EXPECT_EQ(ReadFile(target), "redirect to /_hop/ipCheck.php\n");
  // A URL that starts on HTTPS in capitals, which libcurl reads as https, stays on https.
  EXPECT_EQ(Fetch("HTTPS://127.0.0.1:" + std::to_string(ClosedPort())), 0);
  EXPECT_EQ(redirectsSeen, "https");
}

TEST_F(DownloadTest, RedirectLoopEndsAfterThirtyHops) {
  Fault("mode=loop&path=/ipCheck.php");
  WriteFile(target, "from before");
  int before = service->RequestCount();
  EXPECT_EQ(Fetch(service->Url("/ipCheck.php")), 0);
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(service->RequestCount() - before, 31);  // the request and 30 redirections
}

TEST_F(DownloadTest, AnOptionLibcurlRefusesFailsTheTransferWithNothingSent) {
  const RequestIdentity identity{u"agent/1", u"user", u"password"};  // its options too
  optionsSeen.clear();
  ASSERT_EQ(Fetch(service->Url("/ipCheck.php"), DownloadBounded, &identity), 1);
  const std::vector<CURLoption> options = optionsSeen;  // every option a transfer sets
  ASSERT_FALSE(options.empty()) << "curl_easy_setopt is not wrapped";
  int before = service->RequestCount();
  for (CURLoption option : options) {
    refusedOption = option;
    WriteFile(target, "from before");
    std::intptr_t fetched = Fetch(service->Url("/ipCheck.php"), DownloadBounded, &identity);
    refusedOption = CURLOPT_LASTENTRY;
    EXPECT_EQ(fetched, 0) << option;
    EXPECT_FALSE(fs::exists(target)) << option;
  }
  EXPECT_EQ(service->RequestCount(), before);
}

TEST_F(DownloadTest, UrlWithoutSchemeIsFetchedOverHttp) {
  std::string url = "127.0.0.1:" + std::to_string(service->port()) + "/ipCheck.php";
  EXPECT_EQ(Fetch(url), 1);
  EXPECT_EQ(ReadFile(target), "203.0.113.7\n");
}

TEST_F(DownloadTest, ProxyFromTheEnvironmentTakesEffect) {
  // How the program's fixed endpoints reach the test service: no proxy option is set.
  SetEnvironment("http_proxy", service->Url("").c_str());
  std::intptr_t withScheme = Fetch("http://ip.example.net/ipCheck.php");
  std::string first = ReadFile(target);
  std::intptr_t withoutScheme = Fetch(
      "update.example.net/nic/update?hostname=demo.example.net&myip=192.0.2.1"
      "&user=demo&pass=demo-pass");
  std::string second = ReadFile(target);
  SetEnvironment("http_proxy", nullptr);
  EXPECT_EQ(withScheme, 1);
  EXPECT_EQ(first, "203.0.113.7\n");
  EXPECT_EQ(withoutScheme, 1);
  EXPECT_TRUE(second == "good 192.0.2.1" || second == "nochg 192.0.2.1") << second;
}

TEST_F(DownloadTest, InterruptedTransferLeavesNoFile) {
  const std::string rules[] = {
      "mode=reset&at=body&body=" + std::string(4000, 'y') + "&path=/ipCheck.php",
      "mode=reset&at=headers&path=/ipCheck.php",
      "mode=drop&path=/ipCheck.php",
  };
  for (const std::string& rule : rules) {
    Fault(rule);
    WriteFile(target, "from before");
    EXPECT_EQ(Fetch(service->Url("/ipCheck.php")), 0) << rule;
    EXPECT_FALSE(fs::exists(target)) << rule;
  }
}

// This test's download is built with a 2-second guard.
TEST_F(DownloadTest, StallGuardEndsASilentTransfer) {
  for (const char* after : {"request", "headers"}) {
    // The service stays silent until the client goes away: only the guard can end this.
    Fault(std::string("mode=stall&path=/ipCheck.php&after=") + after);
    EXPECT_EQ(Fetch(service->Url("/ipCheck.php")), 0) << after;
    EXPECT_FALSE(fs::exists(target));
  }
  // A slow body that keeps arriving is not a stall.
  Fault("mode=slow&body=abcde&chunk=1&interval=0.3&path=/ipCheck.php");
  EXPECT_EQ(Fetch(service->Url("/ipCheck.php")), 1);
  EXPECT_EQ(ReadFile(target), "abcde");
}

TEST_F(DownloadTest, AsyncJobReportsRunningThenFinished) {
  Fault("mode=slow&body=abcdefghij&chunk=2&interval=0.1&path=/ipCheck.php");
  WriteFile(target, "from before");
  std::intptr_t handle = Fetch(service->Url("/ipCheck.php"), DownloadAsync);
  ASSERT_NE(handle, 0);
  auto* job = reinterpret_cast<DownloadJob*>(handle);
  EXPECT_EQ(job->status.load(), DownloadRunning);
  // A reader meanwhile sees the old file or the whole new one, never a part. On Windows its
  // open is refused for the moment the rename holds the new file for deletion: like most
  // readers, it does not share deletion.
  while (!job->threadEnded.load(std::memory_order_acquire)) {
    std::string seen = ReadFile(target);
    if (seen != "from before" && !seen.empty()) {
      EXPECT_EQ(seen, "abcdefghij");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(job->status.load(), DownloadFinished);
  EXPECT_EQ(job->bytesWritten.load(), 10);
  EXPECT_EQ(ReadFile(target), "abcdefghij");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
  ReleaseDownloadJob(job);

  WriteFile(target, "from before");
  handle = Fetch("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/", DownloadAsync);
  ASSERT_NE(handle, 0);
  job = reinterpret_cast<DownloadJob*>(handle);
  AwaitJob(job);
  EXPECT_EQ(job->status.load(), DownloadFailed);
  EXPECT_FALSE(fs::exists(target));
  ReleaseDownloadJob(job);
}

TEST_F(DownloadTest, AbortedAsyncJobKeepsItsStatusAndLeavesNoFile) {
  Fault("mode=slow&body=abcdefghijklmnopqrst&chunk=1&interval=0.05&path=/ipCheck.php");
  auto* job = reinterpret_cast<DownloadJob*>(Fetch(service->Url("/ipCheck.php"), DownloadAsync));
  ASSERT_NE(job, nullptr);
  while (job->bytesWritten.load() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  job->status.store(DownloadAborted);
  AwaitJob(job);
  EXPECT_EQ(job->status.load(), DownloadAborted);
  EXPECT_LT(job->bytesWritten.load(), 20);
  EXPECT_FALSE(fs::exists(target));
  ReleaseDownloadJob(job);
}

#ifndef _WIN32
// A full disk is made with a file-size limit, which only POSIX has.
TEST_F(DownloadTest, ShortWriteLeavesNoFile) {
  Fault("mode=big&bytes=200000&path=/ipCheck.php");
  WriteFile(target, "from before");
  // A full disk, in a child whose file-size limit stops the write at 64 KiB: the server did
  // answer, and only the body is lost.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{65536, 65536};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(static_cast<int>(Fetch(service->Url("/ipCheck.php"))));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), FetchAnswerLost);
  EXPECT_FALSE(fs::exists(target));
}
#endif

}  // namespace
}  // namespace ralto
