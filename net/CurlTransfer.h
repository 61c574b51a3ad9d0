// One libcurl transfer as the HTTP path and NolkFTP run it: an easy handle
// with the session's shared settings, and the sink that writes the
// response body into a NolkDataBuffer in chunks of at most 16,384 bytes,
// asking the callback before each one. The socket is read in larger blocks
// (fewer receive calls); libcurl hands the body over in pieces of at most
// 16,384 bytes, and a larger piece would still be taken chunk by chunk.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <functional>
#include <string>

#include "net/DownloadURLCallback.h"
#include "net/HttpResponseRules.h"
#include "stream/NolkDataBuffer.h"

namespace NolkInetInternal {

constexpr std::uint32_t kReadBlockBytes = 16384;
constexpr std::uint32_t kSocketBlockBytes = 8 * kReadBlockBytes;

// An easy handle; the connection it holds is reused by its next transfer
// to the same server, and closed when the handle is destroyed or reset.
class CurlHandle {
 public:
  CurlHandle();
  ~CurlHandle();
  CurlHandle(const CurlHandle&) = delete;
  CurlHandle& operator=(const CurlHandle&) = delete;

  CURL* Get() const { return m_curl; }
  bool IsValid() const { return m_curl != nullptr; }
  // Drops the options of the last transfer and applies the shared ones.
  void PrepareTransfer();
  // The library's message for the last failure, or its generic text.
  std::string ErrorText(CURLcode code) const;
  // Closes the connection: the next transfer connects afresh.
  void Close();

 private:
  void ApplySharedOptions();

  CURL* m_curl = nullptr;
  char m_error[CURL_ERROR_SIZE] = {};
};

// Where a response body goes, and what happened while it came.
struct ResponseSink {
  NolkDataBuffer* destination = nullptr;
  DownloadURLCallback* callback = nullptr;
  CURL* curl = nullptr;
  bool isHttp = false;
  // HTTP: a range request was made from this byte of the resource, and
  // `restartPosition` is where the destination is rewound to when the
  // server sends the whole resource instead.
  std::uint64_t requestedOffset = 0;
  std::uint64_t restartPosition = 0;

  bool bodyStarted = false;
  bool cancelled = false;
  bool badStatus = false;
  bool badRange = false;
  long status = 0;
  NolkResult writeResult = NOLKRESULT_OK;
  std::uint64_t bytesWritten = 0;
  std::string etag;
  std::string lastModified;
  std::string contentRange;
  // HTTP: called once the body is accepted, before its first byte is
  // written (the validators above are this response's then).
  std::function<void()> onBodyStart;
};

// Connects the sink to the handle's write, header and progress callbacks.
void AttachSink(CurlHandle& handle, ResponseSink& sink);

// One block of the body: the stop check before each 16,384-byte chunk,
// then WriteData of the chunks let through ("WriteData returned %d" on
// failure). Returns the bytes taken, anything else stops the transfer.
std::size_t ReadResponseChunk(ResponseSink& sink, const char* block, std::size_t length);

// Whether a failure says the connection was cut or reset under a transfer.
bool IsConnectionDrop(CURLcode code);

}  // namespace NolkInetInternal
