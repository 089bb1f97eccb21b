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
  DownloadErrorStatusFails = 8,  // a final HTTP status of 400 or above fails the transfer
  // So do 407 and 408, and 429 and 500 or above (FetchServerBusy): never processed. Any other
  // final status means the server processed the request: whatever then breaks off is
  // FetchAnswerLost, never a failure.
  DownloadUnprocessedFails = 16,
  // The connection goes over this family alone, never over the other: a name without an
  // address of it, or not reached over it, fails the transfer. Behind a proxy it is the
  // connection to the proxy.
  DownloadIpv4Only = 32,
  DownloadIpv6Only = 64,
};

// The largest body a DownloadBounded transfer stores.
inline constexpr std::int64_t DownloadMaxBytes = 1 << 20;

// The first bytes of a body, kept as they arrive whatever becomes of the rest: enough for a
// byte-order mark, a word of up to 14 characters in UTF-16 and what follows it.
inline constexpr int BodyStartBytes = 32;
struct BodyStart {
  std::uint8_t bytes[BodyStartBytes];
  std::int32_t length;
};

// What a synchronous FetchUrlToFile gives back. After a transfer that was started and did not
// store its body (FetchFailed, FetchAnswerLost) no file of that name is left; one never started
// (FetchUnwritable, or FetchFailed for a URL that cannot be converted or no memory) leaves the
// target as it was.
enum FetchResult : std::int32_t {
  FetchFailed = 0,  // no answer to keep: the server could not be reached, the connection broke,
                    // the stall guard or the ceiling ended it, a redirect was refused or one too
                    // many, the body grew past the cap, the status failed it under the flags
  FetchStored = 1,  // the whole body is in the file
  // The final response's status arrived, one the flags take as a body from a server that
  // processed the request (not 3xx, 5xx, 407, 408 or 429), and then the body was not stored:
  // writing it failed (no room, the file-size limit, an I/O error) or the complete body could
  // not take the target's place (held past the wait); under DownloadUnprocessedFails also
  // anything else that ended the transfer after the status line (a cut, the cap, the stall
  // guard, the ceiling).
  FetchAnswerLost = 2,
  // Nothing was requested: the target could not be replaced (a folder, a read-only file) or
  // no file could be made beside it (the folder cannot be written, no room, no inode).
  FetchUnwritable = 3,
  // Under DownloadUnprocessedFails, a final status of 429 or 500 and above: the server did
  // not process the request and asks for a later try. No file of that name is left.
  FetchServerBusy = 4,
};

// Who is calling, and the account, for a request that names them; each absent (null) text is
// not sent. The account goes by HTTP Basic authentication, in UTF-8, to the first URL's host
// alone (libcurl's rule: never to a redirect's other host); a user name holding ':' cannot be
// told apart from the password there, and is left out with it.
struct RequestIdentity {
  const char16_t* userAgent;
  const char16_t* user;
  const char16_t* password;
};

// Why this thread's last synchronous transfer ended as it did, for a report that names no URL:
// libcurl's result code and its text (CURLE_FAILED_INIT when no transfer was started; a lean
// libcurl's text is "Error" alone), and the last response's HTTP status (0 when none came).
// CURLE_OK and no status before any transfer.
struct TransferEnd {
  std::int32_t curlCode;
  const char* curlText;
  std::int32_t httpStatus;
};
TransferEnd LastTransferEnd();

// Synchronous: a FetchResult. A transfer whose options libcurl does not all take (one it
// lacks) fails as a broken one does, with nothing requested. An https transfer takes TLS 1.2
// or newer: a server offering only older versions fails it. Without the flags above, any
// status is a body.
// With DownloadAsync: the DownloadJob as an opaque non-zero handle, or 0; the job stays
// allocated for its holder (download_job.h says when it may be released).
// start, when given, receives the final body's first bytes of a synchronous transfer, also
// when they were not stored (an asynchronous job keeps them in the job).
// identity, when given, is sent with the request (above).
// Absent url or file: 0 and nothing touched. Touches no temporary text.
[[nodiscard]] std::intptr_t FetchUrlToFile(const char16_t* url, const char16_t* file,
                                           std::uint32_t flags = 0, BodyStart* start = nullptr,
                                           const RequestIdentity* identity = nullptr);

}  // namespace ralto
