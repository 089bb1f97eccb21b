// Download of a URL into a file over libcurl: a complete file, or none.
#pragma once
#include <cstdint>

namespace ralto {

enum DownloadStatus : std::int32_t {
  DownloadRunning = -1,
  DownloadFinished = -2,
  DownloadFailed = -3,
  DownloadAborted = -4,
};

enum DownloadFlags : std::uint32_t {
  DownloadAsync = 1,       // run on a thread of its own, return the job at once
  DownloadNoRedirect = 2,  // store a redirect response's own body
};

// Synchronous: 1 when the body was stored completely, else 0 and no file of that name.
// With DownloadAsync: the DownloadJob as an opaque non-zero handle, or 0; the job stays
// allocated for its holder (download_job.h says when it may be released).
// Absent url or file: 0 and nothing touched. Touches no temporary text.
std::intptr_t FetchUrlToFile(const char16_t* url, const char16_t* file, std::uint32_t flags = 0);

}  // namespace ralto
