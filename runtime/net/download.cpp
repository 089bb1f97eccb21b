// Download of a URL into a file over libcurl's easy interface, on the caller's thread or on
// one of its own; a failed transfer leaves no file behind.
#include "runtime/net/download.h"

#include <curl/curl.h>
#ifdef RALTO_CURL_OVER_MBEDTLS
#include <mbedtls/ssl.h>
#endif

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/file_io.h"
#include "platform/heap.h"
#include "platform/process.h"
#include "runtime/files/file_system.h"
#include "runtime/files/temporary_file.h"
#include "runtime/net/download_job.h"
#include "runtime/strings/heaps.h"
#include "runtime/strings/string_ops.h"
#include "runtime/strings/text_convert.h"

// The time bounds come from the program recipe (cmake/ralto_program.cmake).
#if !defined(RALTO_STALL_SECONDS) || !defined(RALTO_TRANSFER_SECONDS)
#error "build the download through ralto_download(), which sets its time bounds"
#endif

namespace ralto {
namespace {

// Without a limit a redirect loop is followed for ever; 30 is libcurl's own later default.
constexpr long MaxRedirects = 30;
// The requested stack is the initial commit on Windows; the thread gets the default stack.
constexpr std::size_t DownloadStackSize = 8192;

// A server that accepts and then sends nothing would otherwise hold the run, and every
// scheduled run after it, for ever.
constexpr long StallSeconds = RALTO_STALL_SECONDS;
// libcurl's guard looks at the average rate only: a few bytes every few seconds keep a
// transfer alive. A bounded transfer ends after this long, whatever arrives.
constexpr long TransferSeconds = RALTO_TRANSFER_SECONDS;

// Whether a status is the server's "not now" under the job's flags: too many requests, or
// trouble on its side.
bool AsksForLater(std::uint32_t flags, long status) {
  return (flags & DownloadUnprocessedFails) && (status == 429 || status >= 500);
}

// This thread's last transfer: its libcurl result code and last HTTP status.
thread_local CURLcode lastCurlCode = CURLE_OK;
thread_local long lastHttpStatus = 0;

// Whether a finished transfer's HTTP status makes it a failure under the job's flags.
bool StatusFails(std::uint32_t flags, long status) {
  if ((flags & DownloadErrorStatusFails) && status >= 400) return true;
  // The server never processed the request: it is to be sent again, not taken as an answer.
  return AsksForLater(flags, status) ||
         ((flags & DownloadUnprocessedFails) && (status == 407 || status == 408));
}

// Whether a status is an answer the server gave, for a transfer that then broke off on our
// side: a final one, neither a redirect nor one of a request never processed, and a body under
// the job's flags.
bool AnsweredBeforeOurFailure(std::uint32_t flags, long status) {
  if (status < 200 || (status >= 300 && status < 400)) return false;
  return !StatusFails(flags | DownloadUnprocessedFails, status);
}

// Whether the URL begins with "https://" in any letter case, as libcurl reads a scheme.
bool NamesHttps(const char* url) {
  for (const char* scheme = "https://"; *scheme; ++scheme, ++url) {
    char unit = *url >= 'A' && *url <= 'Z' ? static_cast<char>(*url - 'A' + 'a') : *url;
    if (unit != *scheme) return false;
  }
  return true;
}

#ifdef RALTO_CURL_OVER_MBEDTLS
// libcurl over mbedTLS checks certificates against a profile of its own that takes SHA-1
// signatures and 1024-bit RSA keys; mbedTLS's default profile asks what the system's TLS
// library asks of the default build: SHA-2 signatures and RSA keys of 2048 bits or more. Its
// Diffie-Hellman floor is 1024 bits, which the default build refuses too: 2048 here as well.
// libcurl hands over the connection's configuration before the handshake.
CURLcode RequireStrongCertificates(CURL*, void* config, void*) {
  auto* tls = static_cast<mbedtls_ssl_config*>(config);
  mbedtls_ssl_conf_cert_profile(tls, &mbedtls_x509_crt_profile_default);
  mbedtls_ssl_conf_dhm_min_bitlen(tls, 2048);
  return CURLE_OK;
}
#endif

// Sets the options of the job's transfer; false when libcurl refused any of them. Every
// result counts: an option libcurl does not know (an older libcurl has no protocol lists)
// would otherwise leave a bound unset without a word.
bool SetTransferOptions(CURL* curl, DownloadJob* job, const char* url) {
  const bool bounded = job->flags & DownloadBounded;
  // A transfer that starts on https stays on it: a redirect to http would send the request,
  // a password included, in clear, and take an answer anyone on the path could write.
  const char* redirects = NamesHttps(url) ? "https" : bounded ? "http,https" : nullptr;
  const long follow = (job->flags & DownloadNoRedirect) ? 0L : 1L;
  const long family = (job->flags & DownloadIpv4Only)   ? CURL_IPRESOLVE_V4
                      : (job->flags & DownloadIpv6Only) ? CURL_IPRESOLVE_V6
                                                        : CURL_IPRESOLVE_WHATEVER;
  const CURLcode results[] = {
      curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, follow),
      curl_easy_setopt(curl, CURLOPT_MAXREDIRS, MaxRedirects),
      curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L),
      curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, StallSeconds),
      // TLS 1.0 and 1.1 are broken: a server that offers nothing newer fails the handshake.
      curl_easy_setopt(curl, CURLOPT_SSLVERSION, CURL_SSLVERSION_TLSv1_2),
#ifdef RALTO_CURL_OVER_MBEDTLS
      curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, RequireStrongCertificates),
#endif
      bounded ? curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https") : CURLE_OK,
      redirects ? curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, redirects) : CURLE_OK,
      bounded ? curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t{DownloadMaxBytes})
              : CURLE_OK,
      bounded ? curl_easy_setopt(curl, CURLOPT_TIMEOUT, TransferSeconds) : CURLE_OK,
      curl_easy_setopt(curl, CURLOPT_IPRESOLVE, family),
      job->userAgent ? curl_easy_setopt(curl, CURLOPT_USERAGENT, job->userAgent) : CURLE_OK,
      // Basic, sent with the first request: dyndns2 servers read the account from it, and
      // none is bound to ask for it first. The redirect rule stays libcurl's default.
      job->password ? curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_BASIC) : CURLE_OK,
      job->password ? curl_easy_setopt(curl, CURLOPT_USERNAME, job->user) : CURLE_OK,
      job->password ? curl_easy_setopt(curl, CURLOPT_PASSWORD, job->password) : CURLE_OK,
      curl_easy_setopt(curl, CURLOPT_URL, url),
      curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, ReceiveData),
      curl_easy_setopt(curl, CURLOPT_WRITEDATA, job),
  };
  for (CURLcode result : results) {
    if (result != CURLE_OK) return false;
  }
  return true;
}

// A malloc'd copy of the text; null when memory is exhausted.
char16_t* DuplicateText(const char16_t* text) {
  std::size_t units = static_cast<std::size_t>(TextLength(text)) + 1;
  auto* copy = static_cast<char16_t*>(std::malloc(units * sizeof(char16_t)));
  if (!copy) return nullptr;
  for (std::size_t i = 0; i < units; ++i) copy[i] = text[i];
  return copy;
}

// The identity's texts into the job as UTF-8; false when one could not be converted.
bool TakeIdentity(DownloadJob* job, const RequestIdentity& identity) {
  if (identity.userAgent && !(job->userAgent = ToUtf8Bytes(identity.userAgent))) return false;
  if (!identity.user || !identity.password) return true;
  if (!(job->user = ToUtf8Bytes(identity.user))) return false;
  if (std::strchr(job->user, ':')) return true;
  return (job->password = ToUtf8Bytes(identity.password)) != nullptr;
}

}  // namespace

std::size_t ReceiveData(char* data, std::size_t size, std::size_t count, void* userData) {
  auto* job = static_cast<DownloadJob*>(userData);
  // Kept first: a body that is then refused, cut or not stored is still known by how it begins.
  BodyStart& start = job->start;
  for (std::size_t i = 0; i < size * count && start.length < BodyStartBytes; ++i) {
    start.bytes[start.length++] = static_cast<std::uint8_t>(data[i]);
  }
  if (job->status.load(std::memory_order_relaxed) == DownloadAborted) return 0;
  // Past the cap nothing more is written: the transfer fails with what came before it.
  if ((job->flags & DownloadBounded) &&
      job->bytesWritten.load(std::memory_order_relaxed) + static_cast<std::int64_t>(size * count) >
          DownloadMaxBytes) {
    return 0;
  }
  // libcurl hands over at most CURL_MAX_WRITE_SIZE bytes at a time: one write call fits.
  const auto wanted = static_cast<sys::DWORD>(size * count);
  sys::DWORD written = 0;
  if (!sys::WriteFile(job->fileHandle, data, wanted, &written, nullptr) || written != wanted) {
    job->writeFailed = true;
  }
  job->bytesWritten.fetch_add(static_cast<std::int64_t>(written), std::memory_order_relaxed);
  return written;
}

FetchResult RunDownload(DownloadJob* job) {
  // The body grows in a file of its own beside the target and takes the target's place only
  // once it is complete: a reader never sees a part, and whatever was under the target's name,
  // a link included, is replaced rather than written through. Nothing is requested for a
  // target that could not be put in place afterwards, nor with a URL that cannot be converted.
  char16_t temporary[TemporaryNameUnits];
  job->fileHandle = CreateTemporaryBeside(job->file, nullptr, temporary);
  const bool created = job->fileHandle != sys::INVALID_HANDLE_VALUE;
  CURL* curl = created ? curl_easy_init() : nullptr;
  char* url = curl ? ToAnsiBytes(job->url) : nullptr;
  FetchResult outcome = FetchFailed;
  lastCurlCode = CURLE_FAILED_INIT;
  lastHttpStatus = 0;
  // A transfer whose options are not all set is not started: it fails like a broken one.
  if (url && SetTransferOptions(curl, job, url)) {
    const CURLcode performed = curl_easy_perform(curl);
    // libcurl keeps the last response's status after a write error too.
    long status = 0;
    if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) status = 0;
    lastCurlCode = performed;
    lastHttpStatus = status;
    if (AsksForLater(job->flags, status)) {
      outcome = FetchServerBusy;
    } else if (performed == CURLE_OK) {
      outcome = StatusFails(job->flags, status) ? FetchFailed : FetchStored;
    } else if (AnsweredBeforeOurFailure(job->flags, status) &&
               ((job->flags & DownloadUnprocessedFails) ||
                (performed == CURLE_WRITE_ERROR && job->writeFailed))) {
      // The request was processed: what this side could not keep, or what broke off after the
      // status line, does not unmake the answer.
      outcome = FetchAnswerLost;
    }
  }
  if (created) {
    sys::CloseHandle(job->fileHandle);
    if (outcome == FetchStored) {
      if (!ReplaceWithTemporary(temporary, job->file, false)) outcome = FetchAnswerLost;
    } else {
      RemoveTemporary(temporary);
    }
  } else {
    outcome = FetchUnwritable;
  }
  // Finished only once the file is in place; after a failed transfer no file of the name is
  // left, while one that was never attempted leaves it as it was.
  if (outcome == FetchStored) {
    job->status.store(DownloadFinished);
  } else if (url) {
    RemoveFile(job->file);
  }
  FreeAnsiBytes(url);
  curl_easy_cleanup(curl);  // nothing for a null handle
  // Only a status still running turns into a failure: an abort written meanwhile stays.
  std::int32_t running = DownloadRunning;
  job->status.compare_exchange_strong(running, DownloadFailed);
  return outcome;
}

sys::DWORD DownloadThreadMain(void* parameter) {
  auto* job = static_cast<DownloadJob*>(parameter);
  RunDownload(job);
  job->threadEnded.store(1, std::memory_order_release);
  return 0;
}

void ReleaseDownloadJob(DownloadJob* job) {
  if (job->url) std::free(job->url);
  if (job->file) std::free(job->file);
  FreeUtf8Bytes(job->userAgent);
  FreeUtf8Bytes(job->user);
  FreeUtf8Bytes(job->password);
  sys::HeapFree(generalHeap, 0, job);
}

TransferEnd LastTransferEnd() {
  return {lastCurlCode, curl_easy_strerror(lastCurlCode), static_cast<std::int32_t>(lastHttpStatus)};
}

std::intptr_t FetchUrlToFile(const char16_t* url, const char16_t* file, std::uint32_t flags,
                             BodyStart* start, const RequestIdentity* identity) {
  if (!url || !file) return 0;
  void* memory = sys::HeapAlloc(generalHeap, sys::HEAP_ZERO_MEMORY, sizeof(DownloadJob));
  if (!memory) return 0;
  auto* job = new (memory) DownloadJob{};
  job->status.store(DownloadRunning);
  job->url = DuplicateText(url);
  job->file = DuplicateText(file);
  job->flags = flags;
  if (!job->url || !job->file || (identity && !TakeIdentity(job, *identity))) {
    ReleaseDownloadJob(job);
    return 0;
  }
  if (flags & DownloadAsync) {
    sys::HANDLE thread =
        sys::CreateThread(nullptr, DownloadStackSize, DownloadThreadMain, job, 0, nullptr);
    if (!thread) {
      ReleaseDownloadJob(job);
      return 0;
    }
    // Nobody waits for the thread: the job is its holder's to watch and release.
    sys::CloseHandle(thread);
    return reinterpret_cast<std::intptr_t>(job);
  }
  const FetchResult outcome = RunDownload(job);
  if (start) *start = job->start;
  ReleaseDownloadJob(job);
  return outcome;
}

}  // namespace ralto
