// What the HTTP client decides from a response, whichever library carries
// it: a success status, a range that starts where it was asked to, the
// validator a later range request may use.
#pragma once

#include <cstdint>
#include <string>

namespace NolkInetInternal {

bool IsSuccessStatus(long status);
// "bytes 1000-4999/5000": the first byte must be the one asked for.
bool RangeStartsAt(const std::string& contentRange, std::uint64_t offset);
// A weak ETag ("W/...") may not be used for a range: empty then.
std::string StrongEtag(const std::string& etag);

}  // namespace NolkInetInternal
