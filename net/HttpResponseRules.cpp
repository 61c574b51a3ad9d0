#include "net/HttpResponseRules.h"

namespace NolkInetInternal {

bool IsSuccessStatus(long status) {
  return status >= 200 && status <= 299;
}

bool RangeStartsAt(const std::string& contentRange, std::uint64_t offset) {
  const std::string prefix = "bytes ";
  if (contentRange.rfind(prefix, 0) != 0) return false;
  const std::size_t dash = contentRange.find('-', prefix.size());
  if (dash == std::string::npos) return false;
  return contentRange.substr(prefix.size(), dash - prefix.size()) == std::to_string(offset);
}

std::string StrongEtag(const std::string& etag) {
  return etag.rfind("W/", 0) == 0 ? std::string() : etag;
}

}  // namespace NolkInetInternal
