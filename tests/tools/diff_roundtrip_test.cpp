#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "tests/tools/DiffTestSupport.h"
#include "tools/diff/ZstdDiff.h"

namespace {

using DiffTest::Bytes;
using DiffTest::RandomBytes;
using DiffTest::Spliced;
using DiffTest::StructuredBytes;
using KorvelTools::ApplyDiff;
using KorvelTools::CreateDiff;
using KorvelTools::DiffOptions;
using KorvelTools::DiffResult;

// Makes a diff, checks it rebuilds the new file exactly, returns its size.
std::size_t RoundTrip(const Bytes& oldData, const Bytes& newData, const DiffOptions& options = {}) {
  const Bytes diff = CreateDiff(oldData, newData, options);
  EXPECT_GE(diff.size(), KorvelTools::kDiffHeaderSize);
  Bytes rebuilt = {1, 2, 3};
  EXPECT_EQ(ApplyDiff(oldData, diff, rebuilt), DiffResult::Ok);
  EXPECT_EQ(rebuilt, newData);
  return diff.size();
}

TEST(DiffRoundTrip, EmptyFilesOnEitherSide) {
  const Bytes data = StructuredBytes(50000, 1);
  RoundTrip({}, {});
  RoundTrip({}, data);
  RoundTrip(data, {});
}

TEST(DiffRoundTrip, IdenticalFilesGiveATinyDiff) {
  const Bytes data = RandomBytes(1 << 20, 2);
  EXPECT_LT(RoundTrip(data, data), 1000u);
}

TEST(DiffRoundTrip, UnrelatedRandomFilesStillRebuild) {
  const Bytes oldData = RandomBytes(300000, 3);
  const Bytes newData = RandomBytes(200000, 4);
  // Nothing is shared, so the diff carries the new file nearly verbatim.
  EXPECT_LT(RoundTrip(oldData, newData), newData.size() + 1000);
}

TEST(DiffRoundTrip, InsertsAndDeletionsCostAboutTheirOwnSize) {
  const Bytes oldData = RandomBytes(2 << 20, 5);
  Bytes newData = oldData;
  for (std::size_t at : {1500000u, 900000u, 100000u, 7u})
    newData = Spliced(newData, at, 0, RandomBytes(500, at));
  EXPECT_LT(RoundTrip(oldData, newData), 4 * 500 + 2000u);

  Bytes shorter = oldData;
  for (std::size_t at : {1800000u, 1000000u, 0u}) shorter = Spliced(shorter, at, 20000, {});
  EXPECT_LT(RoundTrip(oldData, shorter), 2000u);
}

TEST(DiffRoundTrip, ScatteredSmallEditsInCompressibleData) {
  const Bytes oldData = StructuredBytes(3 << 20, 6);
  Bytes newData = oldData;
  for (std::size_t i = 1; i <= 300; ++i) newData[(i * 104729) % newData.size()] ^= 0x5A;
  EXPECT_LT(RoundTrip(oldData, newData), 300u * 40);
}

TEST(DiffRoundTrip, LargeInsertInTheMiddleOfALargeFile) {
  const Bytes oldData = RandomBytes(16 << 20, 7);
  const Bytes insert = RandomBytes(1 << 20, 8);
  const Bytes newData = Spliced(oldData, oldData.size() / 2, 0, insert);
  // The old content must be found on both sides of the insert, 16 MiB back
  // at the end of the new file: the diff is the insert plus a little.
  const std::size_t size = RoundTrip(oldData, newData);
  EXPECT_GT(size, insert.size());
  EXPECT_LT(size, insert.size() + 64 * 1024);
}

TEST(DiffRoundTrip, EveryLevelAndWindowChoiceRebuilds) {
  const Bytes oldData = StructuredBytes(1 << 20, 9);
  const Bytes newData = Spliced(oldData, 1000, 100, RandomBytes(3000, 10));
  for (int level : {1, 3, 9, 19, 22}) {
    DiffOptions options;
    options.level = level;
    RoundTrip(oldData, newData, options);
  }
  DiffOptions noLongMatching;
  noLongMatching.longDistanceMatching = false;
  RoundTrip(oldData, newData, noLongMatching);

  // A window too small to see the old file still gives a valid diff; one
  // larger than needed is narrowed to what ApplyDiff accepts.
  DiffOptions narrow;
  narrow.windowLog = 12;
  EXPECT_GT(RoundTrip(oldData, newData, narrow), 100000u);
  DiffOptions wide;
  wide.windowLog = 30;
  RoundTrip(oldData, newData, wide);
}

TEST(DiffRoundTrip, InvalidLevelFailsWithAnEmptyDiff) {
  DiffOptions options;
  options.level = 1000;
  options.ldmMinMatch = 1 << 20;
  EXPECT_TRUE(CreateDiff(RandomBytes(100, 11), RandomBytes(100, 12), options).empty());
}

TEST(DiffHeader, RecordsLengthsAndOldFileHash) {
  const Bytes oldData = RandomBytes(12345, 13);
  const Bytes newData = RandomBytes(678, 14);
  const Bytes diff = CreateDiff(oldData, newData);
  ASSERT_GE(diff.size(), KorvelTools::kDiffHeaderSize);
  // A zstd skippable frame (magic 0x184D2A5B, 32 bytes) around the header.
  EXPECT_EQ(Bytes(diff.begin(), diff.begin() + 8), (Bytes{0x5B, 0x2A, 0x4D, 0x18, 32, 0, 0, 0}));
  EXPECT_EQ(std::string(diff.begin() + 8, diff.begin() + 12), "KVD1");
  KorvelTools::DiffHeader header;
  ASSERT_TRUE(KorvelTools::ReadDiffHeader(diff, header));
  EXPECT_EQ(header.oldLength, oldData.size());
  EXPECT_EQ(header.newLength, newData.size());
  EXPECT_EQ(header.oldHash, KorvelTools::OldFileHash(oldData));
}

TEST(DiffWindow, CoversBothFilesWithinZstdLimits) {
  EXPECT_EQ(KorvelTools::DiffWindowLog(0, 0), 10);
  EXPECT_EQ(KorvelTools::DiffWindowLog(512, 512), 10);
  // zstd's largest window: 2^31 bytes in 64-bit programs, 2^30 in 32-bit ones.
  const int maxLog = sizeof(std::size_t) == 4 ? 30 : 31;
  for (std::uint64_t oldLength : {1000ull, 1ull << 20, (1ull << 26) + 1, 3ull << 28}) {
    const int log = KorvelTools::DiffWindowLog(oldLength, oldLength / 2);
    if (oldLength + oldLength / 2 > (1ull << maxLog)) {
      EXPECT_EQ(log, maxLog);
      continue;
    }
    EXPECT_GE(1ull << log, oldLength + oldLength / 2);
    EXPECT_LT(1ull << (log - 1), oldLength + oldLength / 2);
  }
  EXPECT_EQ(KorvelTools::DiffWindowLog(1ull << 26, 1ull << 26), 27);
  EXPECT_EQ(KorvelTools::DiffWindowLog(1ull << 40, 1), maxLog);
  EXPECT_EQ(KorvelTools::DiffWindowLog(~0ull, ~0ull), maxLog);
}

TEST(OldFileHash, EverySingleBitFlipChangesTheHash) {
  // 77 bytes: two full 32-byte stripes, one 8-byte word and a 5-byte tail,
  // so every stage of the hash is covered.
  const Bytes data = RandomBytes(77, 15);
  const std::uint64_t original = KorvelTools::OldFileHash(data);
  EXPECT_EQ(KorvelTools::OldFileHash(data), original);
  for (std::size_t position = 0; position < data.size(); ++position) {
    for (int bit = 0; bit < 8; ++bit) {
      Bytes changed = data;
      changed[position] ^= static_cast<std::uint8_t>(1u << bit);
      EXPECT_NE(KorvelTools::OldFileHash(changed), original) << "byte " << position << " bit " << bit;
    }
  }
}

TEST(OldFileHash, PiecewiseHashingEqualsHashingAtOnce) {
  const Bytes data = RandomBytes(1000, 17);
  const std::uint64_t whole = KorvelTools::OldFileHash(data);
  for (std::size_t piece : {1u, 7u, 31u, 32u, 33u, 100u, 999u}) {
    KorvelTools::OldFileHasher hasher;
    for (std::size_t at = 0; at < data.size(); at += piece) {
      hasher.Update(KorvelTools::ByteSpan(data).subspan(at, std::min(piece, data.size() - at)));
    }
    EXPECT_EQ(hasher.Finish(), whole) << "pieces of " << piece;
  }
}

TEST(OldFileHash, LengthAndOrderMatter) {
  Bytes zeros(64, 0);
  const std::uint64_t hash64 = KorvelTools::OldFileHash(zeros);
  zeros.push_back(0);
  EXPECT_NE(KorvelTools::OldFileHash(zeros), hash64);
  EXPECT_NE(KorvelTools::OldFileHash({}), KorvelTools::OldFileHash(Bytes{0}));

  // Swapping two 8-byte words between lanes must not cancel out.
  Bytes data = RandomBytes(64, 16);
  Bytes swapped = data;
  std::swap_ranges(swapped.begin(), swapped.begin() + 8, swapped.begin() + 8);
  EXPECT_NE(KorvelTools::OldFileHash(swapped), KorvelTools::OldFileHash(data));
}

}  // namespace
