#include "patch/signing/ListSignature.h"

#include <chrono>
#include <cstdio>

#include "patch/signing/Hex.h"

namespace NolkSign {
namespace {

// Days from 1970-01-01 to the date (proleptic Gregorian calendar).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

bool ReadNumber(std::string_view text, std::size_t at, std::size_t width, unsigned& value) {
  value = 0;
  for (std::size_t i = at; i < at + width; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return true;
}

unsigned DaysInMonth(unsigned year, unsigned month) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

std::string ListSignatureText(const Signature& signature) {
  return ToHex(signature) + "\n";
}

bool ParseListSignatureText(std::string_view text, Signature& signature) {
  return FromHex(TrimmedText(text), signature);
}

Verdict VerifyListSignature(std::string_view list, std::string_view signatureText,
                            const PublisherKeySet& keys) {
  Signature signature{};
  if (!ParseListSignatureText(signatureText, signature))
    return Verdict::Refused("its signature file is not 128 hexadecimal digits");
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(list.data()), list.size());
  for (const PublicKey& key : keys.keys)
    if (VerifyDetached(bytes, signature, key)) return Verdict::Trusted();
  return Verdict::Refused("its signature does not match the list and the publisher's keys");
}

std::optional<std::int64_t> ParseUtcTime(std::string_view text) {
  // 0123456789...
  // YYYY-MM-DDTHH:MM:SSZ
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z')
    return std::nullopt;
  unsigned year, month, day, hour, minute, second;
  if (!ReadNumber(text, 0, 4, year) || !ReadNumber(text, 5, 2, month) || !ReadNumber(text, 8, 2, day) ||
      !ReadNumber(text, 11, 2, hour) || !ReadNumber(text, 14, 2, minute) || !ReadNumber(text, 17, 2, second))
    return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 || minute > 59 ||
      second > 59)
    return std::nullopt;
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::string FormatUtcTime(std::int64_t seconds) {
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // Inverse of DaysFromCivil.
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned mp = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02u:%02u:%02uZ", static_cast<long long>(year), month,
                day, static_cast<unsigned>(rest / 3600), static_cast<unsigned>(rest / 60 % 60),
                static_cast<unsigned>(rest % 60));
  return text;
}

std::int64_t CurrentUtcTime() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

Verdict CheckListExpiry(const std::vector<std::string>& expiries, std::int64_t now) {
  if (expiries.empty())
    return Verdict::Refused(std::string("it names no expiry time (\"") + kListExpiryKey + "\")");
  std::optional<std::int64_t> earliest;
  for (const std::string& text : expiries) {
    const std::optional<std::int64_t> time = ParseUtcTime(text);
    if (!time)
      return Verdict::Refused("its expiry time \"" + text + "\" is not written YYYY-MM-DDTHH:MM:SSZ");
    if (!earliest || *time < *earliest) earliest = time;
  }
  if (*earliest <= now) return Verdict::Refused("it expired on " + FormatUtcTime(*earliest));
  return Verdict::Trusted();
}

}  // namespace NolkSign
