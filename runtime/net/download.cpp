// Download of a URL into a file over libcurl's easy interface, on the caller's thread or on
// one of its own; a failed transfer leaves no file behind.
#include "runtime/net/download.h"

#include <curl/curl.h>

#include <cstdlib>
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

// Whether a finished transfer's HTTP status makes it a failure under the job's flags.
bool StatusFails(std::uint32_t flags, long status) {
  if ((flags & DownloadErrorStatusFails) && status >= 400) return true;
  // The server never processed the request: it is to be sent again, not taken as an answer.
  return (flags & DownloadUnprocessedFails) &&
         (status >= 500 || status == 407 || status == 408 || status == 429);
}

// A malloc'd copy of the text; null when memory is exhausted.
char16_t* DuplicateText(const char16_t* text) {
  std::size_t units = static_cast<std::size_t>(TextLength(text)) + 1;
  auto* copy = static_cast<char16_t*>(std::malloc(units * sizeof(char16_t)));
  if (!copy) return nullptr;
  for (std::size_t i = 0; i < units; ++i) copy[i] = text[i];
  return copy;
}

}  // namespace

std::size_t ReceiveData(char* data, std::size_t size, std::size_t count, void* userData) {
  auto* job = static_cast<DownloadJob*>(userData);
  if (job->status.load(std::memory_order_relaxed) == DownloadAborted) return 0;
  // Past the cap nothing more is written: the transfer fails with what came before it.
  if ((job->flags & DownloadBounded) &&
      job->bytesWritten.load(std::memory_order_relaxed) + static_cast<std::int64_t>(size * count) >
          DownloadMaxBytes) {
    return 0;
  }
  // libcurl hands over at most CURL_MAX_WRITE_SIZE bytes at a time: one write call fits.
  sys::DWORD written = 0;
  sys::WriteFile(job->fileHandle, data, static_cast<sys::DWORD>(size * count), &written, nullptr);
  job->bytesWritten.fetch_add(static_cast<std::int64_t>(written), std::memory_order_relaxed);
  return written;
}

std::int32_t RunDownload(DownloadJob* job) {
  // The body grows in a file of its own beside the target and takes the target's place only
  // once it is complete: a reader never sees a part, and whatever was under the target's name,
  // a link included, is replaced rather than written through. Nothing is requested for a
  // target that could not be put in place afterwards, nor with a URL that cannot be converted.
  char16_t temporary[TemporaryNameUnits];
  job->fileHandle = CreateTemporaryBeside(job->file, nullptr, temporary);
  const bool created = job->fileHandle != sys::INVALID_HANDLE_VALUE;
  CURL* curl = created ? curl_easy_init() : nullptr;
  char* url = curl ? ToAnsiBytes(job->url) : nullptr;
  bool complete = false;
  if (url) {
    if (!(job->flags & DownloadNoRedirect)) curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, MaxRedirects);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, StallSeconds);
    if (job->flags & DownloadBounded) {
      curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
      curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
      curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t{DownloadMaxBytes});
      curl_easy_setopt(curl, CURLOPT_TIMEOUT, TransferSeconds);
    }
    curl_easy_setopt(curl, CURLOPT_URL, url);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, ReceiveData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, job);
    complete = curl_easy_perform(curl) == CURLE_OK;
    long status = 0;
    if (complete && curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK) {
      complete = !StatusFails(job->flags, status);
    }
  }
  std::int32_t result = 0;
  if (created) {
    sys::CloseHandle(job->fileHandle);
    if (complete) {
      result = ReplaceWithTemporary(temporary, job->file, false);
    } else {
      RemoveTemporary(temporary);
    }
  }
  // Finished only once the file is in place; after a failed transfer no file of the name is
  // left, while one that was never attempted leaves it as it was.
  if (result) {
    job->status.store(DownloadFinished);
  } else if (url) {
    RemoveFile(job->file);
  }
  FreeAnsiBytes(url);
  curl_easy_cleanup(curl);  // nothing for a null handle
  // Only a status still running turns into a failure: an abort written meanwhile stays.
  std::int32_t running = DownloadRunning;
  job->status.compare_exchange_strong(running, DownloadFailed);
  return result;
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
  sys::HeapFree(generalHeap, 0, job);
}

std::intptr_t FetchUrlToFile(const char16_t* url, const char16_t* file, std::uint32_t flags) {
  if (!url || !file) return 0;
  void* memory = sys::HeapAlloc(generalHeap, sys::HEAP_ZERO_MEMORY, sizeof(DownloadJob));
  if (!memory) return 0;
  auto* job = new (memory) DownloadJob{};
  job->status.store(DownloadRunning);
  job->url = DuplicateText(url);
  job->file = DuplicateText(file);
  job->flags = flags;
  if (!job->url || !job->file) {
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
  std::int32_t result = RunDownload(job);
  ReleaseDownloadJob(job);
  return result;
}

}  // namespace ralto
