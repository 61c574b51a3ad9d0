// The checks of a signed patch list: the detached signature over the exact
// bytes, the expiry time, and the archive checksums the records must name.
#include <gtest/gtest.h>

#include "patch/PatchList.h"
#include "patch/signing/Hex.h"
#include "patch/signing/ListSignature.h"
#include "patch/signing/Sha256.h"

namespace {

using namespace NolkSign;

struct Signer {
  KeyPair pair;
  Signer() {
    Seed seed{};
    EXPECT_TRUE(GenerateKeyPair(pair, seed));
  }
  std::string Sign(const std::string& list) const {
    return ListSignatureText(SignDetached(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(list.data()), list.size()),
        pair));
  }
  PublisherKeySet Keys() const { return {{pair.publicKey}}; }
};

const std::string kList =
    "list-expires: 2099-01-01T00:00:00Z\n\n"
    "source-version: 100\ntarget-version: 200\npatch-exe-url: x.exe\npatch-data-url: 100_to_200.zip\n"
    "patch-data-sha256: " +
    std::string(64, 'a') + "\n";

TEST(ListSignature, GoodSignatureOfEitherConfiguredKey) {
  Signer first, second;
  const PublisherKeySet both{{first.pair.publicKey, second.pair.publicKey}};
  EXPECT_TRUE(VerifyListSignature(kList, first.Sign(kList), both).trusted);
  EXPECT_TRUE(VerifyListSignature(kList, second.Sign(kList), both).trusted);
  // A signature file written with CR LF or without a line end reads the same.
  std::string text = second.Sign(kList);
  text.pop_back();
  EXPECT_TRUE(VerifyListSignature(kList, text + "\r\n", both).trusted);
  EXPECT_TRUE(VerifyListSignature(kList, text, both).trusted);
}

TEST(ListSignature, ChangedByteOtherKeyOrMalformedSignatureIsRefused) {
  Signer publisher, other;
  const std::string signature = publisher.Sign(kList);
  std::string changed = kList;
  changed[kList.find("200")] = '3';  // the target version 300 instead of 200
  const Verdict tampered = VerifyListSignature(changed, signature, publisher.Keys());
  EXPECT_FALSE(tampered.trusted);
  EXPECT_NE(tampered.reason.find("does not match"), std::string::npos) << tampered.reason;
  EXPECT_FALSE(VerifyListSignature(kList + "\n", signature, publisher.Keys()).trusted);
  EXPECT_FALSE(VerifyListSignature(kList, other.Sign(kList), publisher.Keys()).trusted);

  const Verdict shortText = VerifyListSignature(kList, signature.substr(0, 100), publisher.Keys());
  EXPECT_FALSE(shortText.trusted);
  EXPECT_NE(shortText.reason.find("128 hexadecimal digits"), std::string::npos) << shortText.reason;
  EXPECT_FALSE(VerifyListSignature(kList, "", publisher.Keys()).trusted);
  std::string notHex = signature;
  notHex[5] = 'g';
  EXPECT_FALSE(VerifyListSignature(kList, notHex, publisher.Keys()).trusted);
}

TEST(ListSignature, UtcTimesParseStrictlyAndFormatBack) {
  EXPECT_EQ(ParseUtcTime("1970-01-01T00:00:00Z"), 0);
  EXPECT_EQ(ParseUtcTime("2000-03-01T00:00:00Z"), 951868800);
  EXPECT_EQ(ParseUtcTime("2024-02-29T23:59:59Z"), 1709251199);
  for (const char* bad : {"2023-02-29T00:00:00Z", "2024-13-01T00:00:00Z", "2024-01-01T24:00:00Z",
                          "2024-01-01 00:00:00Z", "2024-01-01T00:00:00", "2024-01-01T00:00:00+00:00",
                          "2024-01-01T00:00:00.5Z", "20x4-01-01T00:00:00Z", ""})
    EXPECT_FALSE(ParseUtcTime(bad).has_value()) << bad;
  for (std::int64_t seconds :
       {std::int64_t{0}, std::int64_t{951868799}, std::int64_t{1709251199}, std::int64_t{4102444800}})
    EXPECT_EQ(ParseUtcTime(FormatUtcTime(seconds)), seconds) << FormatUtcTime(seconds);
}

TEST(ListSignature, ExpiryIsRequiredAndTheEarliestCounts) {
  const std::int64_t now = *ParseUtcTime("2026-06-01T12:00:00Z");
  EXPECT_TRUE(CheckListExpiry({"2026-06-01T12:00:01Z"}, now).trusted);
  const Verdict expired = CheckListExpiry({"2026-06-01T12:00:00Z"}, now);
  EXPECT_FALSE(expired.trusted);
  EXPECT_NE(expired.reason.find("expired on 2026-06-01T12:00:00Z"), std::string::npos) << expired.reason;
  EXPECT_FALSE(CheckListExpiry({"2099-01-01T00:00:00Z", "2020-01-01T00:00:00Z"}, now).trusted);
  const Verdict none = CheckListExpiry({}, now);
  EXPECT_FALSE(none.trusted);
  EXPECT_NE(none.reason.find("list-expires"), std::string::npos) << none.reason;
  EXPECT_FALSE(CheckListExpiry({"next year"}, now).trusted);
}

TEST(ListSignature, ExpiryValuesAreFoundInAnyRecordAsRecordValuesAre) {
  const std::string list =
      "List-Expires : \"2030-01-01T00:00:00Z\"\r\n\r\nsource-version: 1\nlist-expires: 2031-01-01T00:00:00Z";
  EXPECT_EQ(NolkPatch::PatchListValues(list, kListExpiryKey),
            (std::vector<std::string>{"2030-01-01T00:00:00Z", "2031-01-01T00:00:00Z"}));
}

std::string Record(const std::string& source, const std::string& checksumLine) {
  return "source-version: " + source + "\ntarget-version: 9" + source +
         "\npatch-exe-url: x\npatch-data-url: http://h/a.zip\n" + checksumLine + "\n";
}

TEST(ListSignature, SignedListsUseOnlyRecordsWithAValidChecksum) {
  const std::string good(64, 'b');
  const std::string list = Record("1", "patch-data-sha256: " + good + "\n") + Record("2", "") +
                           Record("3", "patch-data-sha256: " + std::string(63, 'b') + "\n") +
                           Record("4", "PATCH-DATA-SHA256: \"" + std::string(64, 'C') + "\"\n") +
                           Record("5", "patch-data-sha256: " + std::string(63, 'b') + "x\n");
  NolkPatch::PatchMap checked;
  ASSERT_TRUE(NolkPatch::ParsePatchList(list, L"http://h/", checked, true));
  ASSERT_EQ(checked.size(), 2u);
  EXPECT_EQ(checked.at("1").dataSha256, good);
  EXPECT_EQ(checked.at("4").dataSha256, std::string(64, 'c'));

  // Without keys the checksum is an unknown key: every record counts.
  NolkPatch::PatchMap plain;
  ASSERT_TRUE(NolkPatch::ParsePatchList(list, L"http://h/", plain));
  EXPECT_EQ(plain.size(), 5u);
  EXPECT_TRUE(plain.at("1").dataSha256.empty());
  // An expiry record is no patch record for either reader.
  NolkPatch::PatchMap onlyExpiry;
  EXPECT_FALSE(NolkPatch::ParsePatchList("list-expires: 2099-01-01T00:00:00Z\n", L"http://h/", onlyExpiry));
}

TEST(Sha256, KnownDigestsInOneOrManyPieces) {
  EXPECT_EQ(ToHex(Sha256Of("abc", 3)), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(ToHex(Sha256Of("", 0)), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  const std::string million(1000000, 'a');
  Sha256 pieces;
  for (std::size_t at = 0; at < million.size(); at += 999)
    pieces.Update(million.data() + at, std::min<std::size_t>(999, million.size() - at));
  EXPECT_EQ(ToHex(pieces.Finish()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(PublisherKeys, KeyListsParseUpToTwoKeys) {
  PublisherKeySet set;
  EXPECT_TRUE(ParsePublisherKeyList("", set));
  EXPECT_TRUE(set.Empty());
  const std::string a(64, 'a'), b(64, 'B');
  ASSERT_TRUE(ParsePublisherKeyList(a + "," + b, set));
  ASSERT_EQ(set.keys.size(), 2u);
  EXPECT_EQ(set.keys[1][0], 0xbb);
  EXPECT_FALSE(ParsePublisherKeyList(a + "," + a + "," + a, set));
  EXPECT_FALSE(ParsePublisherKeyList(a.substr(1), set));
  EXPECT_FALSE(ParsePublisherKeyList(a + ",", set));
}

}  // namespace
