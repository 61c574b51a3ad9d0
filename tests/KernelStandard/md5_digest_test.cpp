#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "KernelStandard/Md5.h"

namespace {

using NolkUtil::DigestToHex;
using NolkUtil::Md5;
using NolkUtil::Md5Hex;

// Bytes that differ from position to position, so a block taken from the
// wrong offset changes the digest.
std::string PatternBytes(std::size_t length) {
  std::string bytes(length, '\0');
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 131 + 7) & 0xff);
  return bytes;
}

std::string DigestInTwoParts(const std::string& bytes, std::size_t split) {
  Md5 md5;
  md5.Update(bytes.data(), split);
  md5.Update(bytes.data() + split, bytes.size() - split);
  return DigestToHex(md5.Final());
}

TEST(Md5Digest, MatchesTheReferenceSuite) {
  const std::pair<const char*, const char*> suite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [input, expected] : suite) EXPECT_EQ(Md5Hex(std::string(input)), expected) << input;
}

// Lengths around the padding boundaries: 55 bytes still fit the length
// field into the same block, 56 to 63 need a second padding block, 64 and
// 65 start a new data block. Their digests were computed with md5sum.
TEST(Md5Digest, PaddingBoundaries) {
  const std::pair<std::size_t, const char*> cases[] = {
      {55, "ef1772b6dff9a122358552954ad0df65"}, {56, "3b0c8ac703f828b04c6c197006d17218"},
      {63, "b06521f39153d618550606be297466d5"}, {64, "014842d480b571495a4a0363793f7367"},
      {65, "c743a45e0d2e6a95cb859adae0248435"},
  };
  for (const auto& [length, expected] : cases)
    EXPECT_EQ(Md5Hex(std::string(length, 'a')), expected) << length;
}

TEST(Md5Digest, SplitUpdatesGiveTheSameDigest) {
  const std::string bytes = PatternBytes(130);
  const std::string whole = Md5Hex(bytes);
  for (std::size_t split = 0; split <= bytes.size(); ++split)
    EXPECT_EQ(DigestInTwoParts(bytes, split), whole) << "split at " << split;
}

TEST(Md5Digest, ByteByByteAndEmptyUpdates) {
  const std::string bytes = PatternBytes(200);
  Md5 md5;
  for (char c : bytes) {
    md5.Update(&c, 1);
    md5.Update(nullptr, 0);
  }
  EXPECT_EQ(DigestToHex(md5.Final()), Md5Hex(bytes));
}

TEST(Md5Digest, UnalignedInputAndReuseAfterInit) {
  const std::string bytes = PatternBytes(1000 + 3);
  const std::string expected = Md5Hex(bytes.substr(3));
  Md5 md5;
  md5.Update(bytes.data() + 3, bytes.size() - 3);
  EXPECT_EQ(DigestToHex(md5.Final()), expected);
  md5.Init();
  md5.Update("abc", 3);
  EXPECT_EQ(DigestToHex(md5.Final()), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Md5Digest, MillionRepeatedCharacters) {
  // A well-known test vector that crosses many blocks.
  EXPECT_EQ(Md5Hex(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
}

}  // namespace
