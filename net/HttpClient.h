// One HTTP or HTTPS attempt: the body of a GET into a data buffer, or the
// length of a resource. Any status outside 200-299 fails the attempt with 3
// and a line naming the status and the URL; its body is never written.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "net/DownloadURLCallback.h"
#include "net/UrlParts.h"
#include "stream/NolkDataBuffer.h"

namespace NolkUtil {

// Bit 0 of the download flags: bypass caches on the way.
constexpr std::uint32_t kDownloadBypassCache = 1;

// What an earlier attempt learnt of the resource, so a later one can ask
// for the rest of it only when it is still the same resource.
struct HttpResumePoint {
  std::string etag;          // strong validators only
  std::string lastModified;  // used when there is no ETag
  bool HasValidator() const { return !etag.empty() || !lastModified.empty(); }
  // Told when the body of a 2xx response begins, with that response's
  // validator (none when it gave none): after a whole resource sent
  // instead of a range has rewound the destination, before the first byte
  // is written. A caller that keeps the validator beside the file at that
  // moment can go on from the file even after the process was killed.
  std::function<void(const HttpResumePoint&)> onBodyStart;
};

// One GET of `url` written at the destination's position. With a resume
// point and `resumeOffset` > 0 the request asks for the bytes from that
// offset (If-Range with the validator); a server that sends the whole
// resource instead has the destination rewound to `restartPosition` first.
// On return the resume point holds the validator of this response.
NolkResult HttpGet(const std::string& url, NolkDataBuffer& destination, std::uint32_t flags,
                   DownloadURLCallback* callback, HttpResumePoint& resume, std::uint64_t resumeOffset,
                   std::uint64_t restartPosition);

// The Content-Length of `url` from a HEAD request; 3 when missing.
NolkResult HttpGetSize(const std::string& url, std::uint64_t& size);

}  // namespace NolkUtil
