#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "KernelStandard/BytePairCodec.h"
#include "bytepair_test_data.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Encode(const Bytes& input) {
  Bytes encoded;
  Vek::BytePairEncode(input.data(), input.size(), encoded);
  return encoded;
}

// Decodes into a buffer of exactly `expected` bytes, so the sanitizer build
// catches any write past it.
bool Decode(const Bytes& encoded, std::size_t expected, Bytes& output) {
  output.assign(expected, 0xEE);
  std::size_t produced = 0;
  bool ok = Vek::BytePairDecode(encoded.data(), encoded.size(), output.data(), expected, produced);
  EXPECT_LE(produced, expected);
  return ok;
}

void ExpectRoundTrip(const Bytes& input) {
  Bytes encoded = Encode(input);
  Bytes decoded;
  ASSERT_TRUE(Decode(encoded, input.size(), decoded)) << "size " << input.size();
  EXPECT_EQ(decoded, input);
}

Bytes FromText(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

TEST(BytePairRoundTrip, EdgeSizesAndNoise) {
  EXPECT_TRUE(Encode({}).empty());
  ExpectRoundTrip({});
  ExpectRoundTrip({0xFF});
  for (std::size_t size : {2u, 3u, 16383u, 16384u, 16385u, 100000u}) {
    ExpectRoundTrip(korvel_test::RandomBytes(size, static_cast<std::uint32_t>(size)));
  }
  // Every byte value in use leaves no code free for pairs.
  Bytes every(256 * 64);
  for (std::size_t i = 0; i < every.size(); ++i) every[i] = static_cast<std::uint8_t>(i);
  ExpectRoundTrip(every);
}

TEST(BytePairRoundTrip, RepetitiveDataShrinks) {
  Bytes text = korvel_test::TextLikeBytes(50000, 7);
  Bytes noise = korvel_test::RandomBytes(20000, 4);
  ExpectRoundTrip(text);
  EXPECT_LT(Encode(text).size(), text.size() * 2 / 3);
  text.insert(text.begin() + 10000, noise.begin(), noise.end());
  ExpectRoundTrip(text);
  Bytes same(40001, 'z');  // odd run: pairs of pairs overlap their neighbours
  ExpectRoundTrip(same);
  EXPECT_LT(Encode(same).size(), same.size() / 20);
}

// Without a replaced pair the table is three bytes (skip 128 literals, the
// literal entry for code 128, skip 127), then the 2-byte length.
constexpr std::size_t kLiteralBlockOverhead = 5;

TEST(BytePairEncoder, ReplacesOnlyPairsSeenThreeTimes) {
  Bytes twice = FromText("xyxy");
  EXPECT_EQ(Encode(twice).size(), twice.size() + kLiteralBlockOverhead);
  // "aaaa" holds "aa" three times only by overlapping: two replacements.
  Bytes overlapping = FromText("aaaa");
  EXPECT_EQ(Encode(overlapping).size(), overlapping.size() + kLiteralBlockOverhead);
  Bytes thrice = FromText("xyxyxy");
  Bytes encoded = Encode(thrice);
  EXPECT_LT(encoded.size() - kLiteralBlockOverhead, thrice.size());
  ExpectRoundTrip(thrice);
}

// --- Decoding hand-written blocks in the classic layout --------------------

TEST(BytePairDecoder, ExpandsPairCodeAndSeveralBlocks) {
  // Code 200 = 'a','b': skip 128, literal 128, skip 71, entry 200, skip 55.
  Bytes block = {255, 128, 198, 'a', 'b', 182, 0x00, 0x02, 200, 'c'};
  Bytes twoBlocks = block;
  twoBlocks.insert(twoBlocks.end(), block.begin(), block.end());
  Bytes out;
  ASSERT_TRUE(Decode(twoBlocks, 6, out));
  EXPECT_EQ(out, FromText("abcabc"));
  ASSERT_TRUE(Decode({255, 128, 254, 0x00, 0x03, 'a', 'b', 'c'}, 3, out));  // literals only
  EXPECT_EQ(out, FromText("abc"));
}

// Code k is the pair (k - 1, 0) for k = 1..255: a chain 255 levels deep.
Bytes DeepChainBlock() {
  Bytes block = {128, 0, 0, 127};  // skip code 0; entry 1; group of 128
  for (int code = 2; code < 130; ++code) block.insert(block.end(), {std::uint8_t(code - 1), 0});
  block.push_back(125);  // group of 126: codes 130..255
  for (int code = 130; code < 256; ++code) block.insert(block.end(), {std::uint8_t(code - 1), 0});
  block.insert(block.end(), {0x00, 0x01, 255});
  return block;
}

TEST(BytePairDecoder, ExpandsTheDeepestRealChain) {
  Bytes out;
  ASSERT_TRUE(Decode(DeepChainBlock(), 256, out));
  EXPECT_EQ(out, Bytes(256, 0));
}

TEST(BytePairDecoder, RejectsMalformedTables) {
  Bytes out;
  // Skip from code 129 by 128 goes past code 255.
  EXPECT_FALSE(Decode({255, 128, 255, 0x00, 0x00}, 0, out));
  // A group of 11 entries starting at code 250.
  Bytes overlong = {255, 128, 247, 249, 10};  // skip to 249, literal 249
  for (int i = 0; i < 11; ++i) overlong.push_back(static_cast<std::uint8_t>(250 + i));
  overlong.insert(overlong.end(), {0x00, 0x00});
  EXPECT_FALSE(Decode(overlong, 0, out));
  // Table cut off, length cut off, data shorter than its length.
  EXPECT_FALSE(Decode({255, 128}, 0, out));
  EXPECT_FALSE(Decode({255, 128, 254, 0x00}, 0, out));
  EXPECT_FALSE(Decode({255, 128, 254, 0x00, 0x05, 'a', 'b'}, 2, out));
  // Code 200 = (201, 'x') and code 201 = (200, 'y') expand forever.
  EXPECT_FALSE(Decode({255, 128, 198, 201, 'x', 0, 200, 'y', 181, 0x00, 0x01, 200}, 100000, out));
}

TEST(BytePairDecoder, RejectsOutputOfTheWrongSize) {
  Bytes input = korvel_test::TextLikeBytes(5000, 11);
  Bytes encoded = Encode(input);
  Bytes out;
  EXPECT_FALSE(Decode(encoded, input.size() - 1, out));
  EXPECT_FALSE(Decode(encoded, input.size() + 1, out));
  EXPECT_FALSE(Decode(DeepChainBlock(), 255, out));
}

TEST(BytePairDecoder, EveryTruncationFails) {
  Bytes input = korvel_test::TextLikeBytes(40000, 5);  // several blocks
  Bytes encoded = Encode(input);
  Bytes out;
  for (std::size_t cut = 0; cut < encoded.size(); cut += 1 + cut / 64) {
    Bytes prefix(encoded.begin(), encoded.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_FALSE(Decode(prefix, input.size(), out)) << "cut at " << cut;
  }
}

TEST(BytePairDecoder, DamagedInputNeverOverruns) {
  Bytes input = korvel_test::TextLikeBytes(8000, 9);
  Bytes encoded = Encode(input);
  std::mt19937 generator(1);
  Bytes out;
  int failures = 0;
  for (int round = 0; round < 2000; ++round) {
    Bytes damaged = encoded;
    for (int flips = 1 + round % 4; flips > 0; --flips) {
      damaged[generator() % damaged.size()] ^= static_cast<std::uint8_t>(1 + generator() % 255);
    }
    if (!Decode(damaged, input.size(), out)) ++failures;
  }
  for (int round = 0; round < 500; ++round) {
    Bytes garbage = korvel_test::RandomBytes(generator() % 600, generator());
    if (!Decode(garbage, generator() % 2000, out)) ++failures;
  }
  // Most damage is detected; none may crash or overrun the buffers.
  EXPECT_GT(failures, 1000);
}

}  // namespace
