// The record of one download and the steps FetchUrlToFile is made of; for the download
// itself and for whoever holds an asynchronous job.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/types.h"
#include "runtime/net/download.h"

namespace ralto {

struct DownloadJob {
  // A DownloadStatus; the holder of an asynchronous job may write DownloadAborted into it
  // while the transfer runs.
  std::atomic<std::int32_t> status;
  char16_t* url;   // malloc'd copy
  char16_t* file;  // malloc'd copy
  // The identity's texts as UTF-8 (ToUtf8Bytes), each null when not sent; the password only
  // with a user name that Basic authentication can carry.
  char* userAgent;
  char* user;
  char* password;
  sys::HANDLE fileHandle;
  std::uint32_t flags;
  std::atomic<std::int64_t> bytesWritten;
  // A write into the file failed or fell short: set by the write function only, never for the
  // cap or an abort, so that the transfer can tell a body it lost from one it refused.
  bool writeFailed;
  // The body's first bytes, kept by the write function before anything can refuse them.
  BodyStart start;
  // Set by the download thread as its very last touch of the job: from then on the holder
  // may release it. The status alone cannot tell, since it turns final before the file is
  // closed.
  std::atomic<std::int32_t> threadEnded;
};

// Performs the transfer of a prepared job, with FetchUrlToFile's results; the job's status is
// DownloadFinished for FetchStored alone, DownloadFailed for the others (unless aborted).
FetchResult RunDownload(DownloadJob* job);
// The libcurl write function: bytes written of size*count; fewer (0 past the cap, after an
// abort or a failed write) ends the transfer.
std::size_t ReceiveData(char* data, std::size_t size, std::size_t count, void* job);
// The thread entry of an asynchronous job: runs it, then marks threadEnded; never releases it.
sys::DWORD DownloadThreadMain(void* job);
// Frees the copies (when present) and the record. The job must not be running.
void ReleaseDownloadJob(DownloadJob* job);

}  // namespace ralto
