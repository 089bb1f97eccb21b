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
  // For what a server may hand over: http and https only, the first URL and every redirect;
  // a body of at most DownloadMaxBytes; the whole transfer within the program's ceiling.
  // (With or without it, a URL that begins with https:// is redirected to https only.)
  DownloadBounded = 4,
  DownloadErrorStatusFails = 8,   // a final HTTP status of 400 or above fails the transfer
  DownloadUnprocessedFails = 16,  // so do 407, 408, 429 and 500 or above: never processed
};

// The largest body a DownloadBounded transfer stores.
inline constexpr std::int64_t DownloadMaxBytes = 1 << 20;

// What a synchronous FetchUrlToFile gives back. After FetchFailed and FetchAnswerLost no file of
// that name is left; FetchUnwritable leaves the target as it was.
enum FetchResult : std::int32_t {
  FetchFailed = 0,  // no answer to keep: the server could not be reached, the connection broke,
                    // the stall guard or the ceiling ended it, a redirect was refused or one too
                    // many, the body grew past the cap, the status failed it under the flags
  FetchStored = 1,  // the whole body is in the file
  // The final response's status arrived, one the flags take as a body from a server that
  // processed the request (not 3xx, 5xx, 407, 408 or 429), and only our side then failed:
  // writing the body (no room, the file-size limit, an I/O error), or putting the complete
  // body in the target's place (held past the wait).
  FetchAnswerLost = 2,
  // Nothing was requested: the target could not be replaced (a folder, a read-only file) or
  // no file could be made beside it (the folder cannot be written, no room, no inode).
  FetchUnwritable = 3,
};

// Synchronous: a FetchResult. A transfer whose options libcurl does not all take (one it
// lacks) fails as a broken one does, with nothing requested. An https transfer takes TLS 1.2
// or newer: a server offering only older versions fails it. Without the flags above, any
// status is a body.
// With DownloadAsync: the DownloadJob as an opaque non-zero handle, or 0; the job stays
// allocated for its holder (download_job.h says when it may be released).
// Absent url or file: 0 and nothing touched. Touches no temporary text.
[[nodiscard]] std::intptr_t FetchUrlToFile(const char16_t* url, const char16_t* file,
                                           std::uint32_t flags = 0);

}  // namespace ralto
