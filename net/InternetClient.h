// Downloads by URL for the download mode: DownloadURL writes the resource
// of an "http", "https" or "ftp" URL into a data buffer, retrying up to 11
// times with a pause between attempts (InternetSession.h) and asking the
// callback between attempts and before each 16,384-byte chunk; GetURLSize
// asks for the resource's length without transferring it.
//
// Result codes: 0 success, 3 a network operation failed (or the server
// answered with a status outside 200-299), 5 malformed URL or no default
// port, 7 FTP client not connected, 10 unknown scheme, 13 stopped through
// the callback; a failing WriteData of the destination is passed through.
//
// HTTP: every attempt starts where the call started. When an attempt
// breaks off after some bytes and the server gave a validator (a strong
// ETag or Last-Modified), the next attempt asks only for the rest
// (Range with If-Range); a server that answers with the whole resource has
// the destination rewound first, and every other failed attempt rewinds
// it to where the call started. FTP resumes from the destination's length.
#pragma once

#include <cstdint>
#include <string>

#include "net/DownloadURLCallback.h"
#include "net/HttpClient.h"
#include "stream/NolkDataBuffer.h"

namespace NolkUtil {

constexpr int kDownloadAttempts = 11;
constexpr int kHttpSizeAttempts = 11;
constexpr int kFtpSizeAttempts = 5;

NolkResult DownloadURL(const std::string& url, NolkDataBuffer& destination, std::uint32_t flags,
                       DownloadURLCallback* callback);

// As above; for HTTP, `resume` carries the validator of the bytes the
// destination already holds from its position 0 up to its position (an
// earlier run's partial download): with one, the download asks for the
// rest only. On return it holds the validator of the resource as last
// seen, to be kept beside a partial file.
NolkResult DownloadURL(const std::string& url, NolkDataBuffer& destination, std::uint32_t flags,
                       DownloadURLCallback* callback, HttpResumePoint& resume);

NolkResult GetURLSize(const std::string& url, std::uint64_t& size);

}  // namespace NolkUtil
