// The checks a signed "patches.txt" must pass before any of its records is
// used, for a patcher built with publisher keys:
//
//  - "patches.txt.sig" from the same server holds the Ed25519 signature of
//    the list's exact bytes as 128 hexadecimal digits (blanks and line ends
//    around them are allowed, so the file may end with a line end). Either
//    configured key may have made it.
//  - The list carries its expiry time as "list-expires: <UTC time>" in a
//    record of its own (older patchers ignore such a record: it lacks the
//    keys a patch record needs). The time is written
//    YYYY-MM-DDTHH:MM:SSZ, for example 2027-01-31T00:00:00Z; a list whose
//    expiry has passed is refused, so an old signed list cannot be served
//    again for ever. With several "list-expires" lines the earliest counts.
//  - Every patch record names the SHA-256 of its archive as
//    "patch-data-sha256: <64 hexadecimal digits>" (PatchList.h); records
//    without one are not used.
//
// The expiry is compared with this machine's clock, so a clock set far
// ahead makes lists expire early; publishers give lists a margin of days.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "patch/signing/Ed25519.h"
#include "patch/signing/PublisherKeys.h"

namespace NolkSign {

inline constexpr char kListSignatureName[] = "patches.txt.sig";
inline constexpr char kListExpiryKey[] = "list-expires";
inline constexpr char kArchiveChecksumKey[] = "patch-data-sha256";

struct Verdict {
  bool trusted = false;
  std::string reason;  // why not, in words a player can pass on

  static Verdict Trusted() { return {true, std::string()}; }
  static Verdict Refused(std::string why) { return {false, std::move(why)}; }
};

// The signature file's text: 128 hexadecimal digits and a line end.
std::string ListSignatureText(const Signature& signature);
bool ParseListSignatureText(std::string_view text, Signature& signature);

Verdict VerifyListSignature(std::string_view list, std::string_view signatureText,
                            const PublisherKeySet& keys);

// Seconds since 1970-01-01T00:00:00Z of a time written
// YYYY-MM-DDTHH:MM:SSZ (nothing else accepted: no offsets, no fractions).
std::optional<std::int64_t> ParseUtcTime(std::string_view text);
std::string FormatUtcTime(std::int64_t seconds);
std::int64_t CurrentUtcTime();

// `expiries` are the list's "list-expires" values.
Verdict CheckListExpiry(const std::vector<std::string>& expiries, std::int64_t now);

}  // namespace NolkSign
