#include "net/UrlParts.h"

#include <cctype>
#include <charconv>

namespace NolkUtil {
namespace {

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && LowerCase(text.substr(0, prefix.size())) == prefix;
}

// A decimal port; 0 when the text is empty, not a number or out of range.
std::int32_t PortNumber(const std::string& text) {
  std::int32_t port = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (error != std::errc() || end != text.data() + text.size()) return 0;
  return port;
}

void SplitUserInfo(const std::string& userInfo, UrlParts& parts) {
  const std::size_t colon = userInfo.find(':');
  if (colon == std::string::npos) {
    parts.user = userInfo;
    return;
  }
  parts.user = userInfo.substr(0, colon);
  parts.password = userInfo.substr(colon + 1);
}

void SplitHostAndPort(const std::string& hostPart, UrlParts& parts) {
  const std::size_t colon = hostPart.find(':');
  parts.host = hostPart.substr(0, colon);
  if (colon != std::string::npos) parts.port = PortNumber(hostPart.substr(colon + 1));
}

}  // namespace

NolkResult ParseURL(const std::string& url, UrlParts& parts) {
  parts = UrlParts();
  std::string rest = url;
  const std::size_t schemeEnd = url.find("://");
  if (schemeEnd != std::string::npos) {
    parts.scheme = LowerCase(url.substr(0, schemeEnd));
    rest = url.substr(schemeEnd + 3);
  }
  const std::size_t pathStart = rest.find('/');
  std::string authority = rest.substr(0, pathStart);
  if (pathStart != std::string::npos) parts.path = rest.substr(pathStart);
  // The user information ends at the last "@" of the authority, so a
  // password may itself hold one.
  const std::size_t at = authority.rfind('@');
  if (at != std::string::npos) {
    SplitUserInfo(authority.substr(0, at), parts);
    authority = authority.substr(at + 1);
  }
  SplitHostAndPort(authority, parts);
  if (parts.host.empty()) return NOLKRESULT_BAD_ARGUMENT;
  if (!parts.password.empty() && parts.user.empty()) return NOLKRESULT_BAD_ARGUMENT;
  return NOLKRESULT_OK;
}

NolkResult DefaultPort(UrlParts& parts) {
  if (parts.port > 0) return NOLKRESULT_OK;
  if (parts.scheme == "http") {
    parts.port = 80;
  } else if (parts.scheme == "https") {
    parts.port = 443;
  } else if (parts.scheme == "ftp") {
    parts.port = 21;
  } else {
    return NOLKRESULT_BAD_ARGUMENT;
  }
  return NOLKRESULT_OK;
}

void DefaultScheme(UrlParts& parts) {
  if (!parts.scheme.empty()) return;
  if (parts.port == 21) {
    parts.scheme = "ftp";
  } else if (parts.port == 80) {
    parts.scheme = "http";
  } else if (parts.port == 443) {
    parts.scheme = "https";
  } else if (StartsWithNoCase(parts.host, "ftp")) {
    parts.scheme = "ftp";
  } else if (StartsWithNoCase(parts.host, "https")) {
    parts.scheme = "https";
  } else {
    parts.scheme = "http";
  }
}

}  // namespace NolkUtil
