// Diffs that do not fit: another old file, damaged, truncated or forged
// diffs. Each must be refused with the right result, quickly and without
// reading out of bounds or allocating what the diff merely claims.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "tests/tools/DiffTestSupport.h"
#include "tools/diff/ZstdDiff.h"

// The largest single allocation of the test program, so a test can prove
// that a claimed length was never allocated.
static std::atomic<std::size_t> g_largestAllocation{0};

void* operator new(std::size_t size) {
  std::size_t seen = g_largestAllocation.load();
  while (size > seen && !g_largestAllocation.compare_exchange_weak(seen, size)) {
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
// GCC cannot see that these pair with the replaced operator new above.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* memory) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}
#pragma GCC diagnostic pop

namespace {

using DiffTest::Bytes;
using DiffTest::RandomBytes;
using DiffTest::StructuredBytes;
using KorvelTools::ApplyDiff;
using KorvelTools::CreateDiff;
using KorvelTools::DiffResult;
using KorvelTools::kDiffHeaderSize;
// The header's fields start behind the skippable frame's magic and length.
constexpr std::size_t kFields = KorvelTools::kDiffHeaderSize - KorvelTools::kLegacyHeaderSize;

void StoreLE64(Bytes& bytes, std::size_t offset, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The header for oldData followed by a hand-made zstd frame that claims
// newLength bytes of content (with a content checksum when asked) but holds
// a single empty raw block.
Bytes ForgedDiff(const Bytes& oldData, std::uint64_t newLength, bool withChecksum = true) {
  Bytes diff = CreateDiff(oldData, {});
  diff.resize(kDiffHeaderSize);
  StoreLE64(diff, kFields + 24, newLength);
  // Frame magic, then single segment with an 8-byte content size.
  const std::uint8_t frame[] = {0x28, 0xB5, 0x2F, 0xFD,
                                static_cast<std::uint8_t>(withChecksum ? 0xE4 : 0xE0)};
  diff.insert(diff.end(), std::begin(frame), std::end(frame));
  for (int i = 0; i < 8; ++i) diff.push_back(static_cast<std::uint8_t>(newLength >> (8 * i)));
  const std::uint8_t lastEmptyRawBlock[] = {0x01, 0x00, 0x00};
  diff.insert(diff.end(), std::begin(lastEmptyRawBlock), std::end(lastEmptyRawBlock));
  if (withChecksum) diff.insert(diff.end(), 4, 0);
  return diff;
}

class HostileDiff : public ::testing::Test {
 protected:
  void SetUp() override {
    m_old = StructuredBytes(200000, 21);
    m_new = m_old;
    m_new.insert(m_new.begin() + 5000, m_old.begin(), m_old.begin() + 3000);
    m_diff = CreateDiff(m_old, m_new);
    ASSERT_GT(m_diff.size(), kDiffHeaderSize);
  }

  DiffResult Apply(const Bytes& oldData, const Bytes& diff) {
    m_out = {9, 9, 9};
    const DiffResult result = ApplyDiff(oldData, diff, m_out);
    if (result != DiffResult::Ok) {
      EXPECT_TRUE(m_out.empty());
    }
    return result;
  }

  Bytes m_old, m_new, m_diff, m_out;
};

TEST_F(HostileDiff, AnotherOldFileIsRecognisedBeforeDecoding) {
  Bytes sameLength = m_old;
  sameLength[sameLength.size() / 2] ^= 1;
  EXPECT_EQ(Apply(sameLength, m_diff), DiffResult::WrongOldFile);
  Bytes longer = m_old;
  longer.push_back(0);
  EXPECT_EQ(Apply(longer, m_diff), DiffResult::WrongOldFile);
  EXPECT_EQ(Apply({}, m_diff), DiffResult::WrongOldFile);
  // The new file is not the old file of its own diff.
  EXPECT_EQ(Apply(m_new, m_diff), DiffResult::WrongOldFile);
}

TEST_F(HostileDiff, EveryTruncationIsCorrupt) {
  for (std::size_t length = 0; length < m_diff.size(); ++length) {
    const Bytes truncated(m_diff.begin(), m_diff.begin() + static_cast<std::ptrdiff_t>(length));
    ASSERT_EQ(Apply(m_old, truncated), DiffResult::Corrupt) << "length " << length;
  }
}

TEST_F(HostileDiff, TrailingBytesAreCorrupt) {
  Bytes extended = m_diff;
  extended.push_back(0);
  EXPECT_EQ(Apply(m_old, extended), DiffResult::Corrupt);
  extended = m_diff;
  extended.insert(extended.end(), m_diff.begin() + kDiffHeaderSize, m_diff.end());  // a second frame
  EXPECT_EQ(Apply(m_old, extended), DiffResult::Corrupt);
}

TEST_F(HostileDiff, HeaderDamageIsCorrupt) {
  for (std::size_t offset : {std::size_t{0}, std::size_t{3}, std::size_t{4}, kFields, kFields + 3,
                             kFields + 4, kFields + 6, kFields + 7}) {
    Bytes damaged = m_diff;
    damaged[offset] ^= 0x40;
    EXPECT_EQ(Apply(m_old, damaged), DiffResult::Corrupt) << "offset " << offset;
  }
  Bytes wrongLength = m_diff;
  StoreLE64(wrongLength, kFields + 24, m_new.size() + 1);
  EXPECT_EQ(Apply(m_old, wrongLength), DiffResult::Corrupt);
}

TEST_F(HostileDiff, DamagedFrameNeverGivesAWrongFile) {
  // A changed byte is caught by the frame structure or the content
  // checksum; in the rare case zstd ignores the byte, the result is right.
  for (std::size_t offset = kDiffHeaderSize; offset < m_diff.size(); ++offset) {
    Bytes damaged = m_diff;
    damaged[offset] ^= static_cast<std::uint8_t>(1u << (offset % 8));
    if (Apply(m_old, damaged) == DiffResult::Ok) {
      EXPECT_EQ(m_out, m_new) << "offset " << offset;
    }
  }
}

TEST_F(HostileDiff, GarbageAfterAValidHeaderIsCorrupt) {
  Bytes garbage(m_diff.begin(), m_diff.begin() + kDiffHeaderSize);
  const Bytes noise = RandomBytes(5000, 22);
  garbage.insert(garbage.end(), noise.begin(), noise.end());
  EXPECT_EQ(Apply(m_old, garbage), DiffResult::Corrupt);
}

TEST_F(HostileDiff, FrameOfAnotherDiffIsCorrupt) {
  // Same old file, but the frame was made for a new file of another length.
  const Bytes other = CreateDiff(m_old, Bytes(m_old.begin(), m_old.begin() + 1000));
  Bytes spliced(m_diff.begin(), m_diff.begin() + kDiffHeaderSize);
  spliced.insert(spliced.end(), other.begin() + kDiffHeaderSize, other.end());
  EXPECT_EQ(Apply(m_old, spliced), DiffResult::Corrupt);
}

TEST_F(HostileDiff, HugeDeclaredLengthIsRefusedWithoutAllocating) {
  // Header and frame agree on a length the frame's few bytes could never
  // produce: refused before anything of that size is allocated.
  for (std::uint64_t claimed : {1ull << 40, 1ull << 62, ~0ull - 1, 100ull << 20}) {
    const Bytes forged = ForgedDiff(m_old, claimed);
    g_largestAllocation = 0;
    EXPECT_EQ(Apply(m_old, forged), DiffResult::Corrupt) << claimed;
    EXPECT_LT(g_largestAllocation.load(), std::size_t{1} << 20) << claimed;
  }
}

TEST_F(HostileDiff, ForgedFramesThatCannotDeliverAreCorrupt) {
  // Small enough to pass the size bound, but the block holds nothing.
  EXPECT_EQ(Apply(m_old, ForgedDiff(m_old, 1000)), DiffResult::Corrupt);
  // Empty content, but the checksum is wrong, or missing altogether.
  EXPECT_EQ(Apply(m_old, ForgedDiff(m_old, 0)), DiffResult::Corrupt);
  EXPECT_EQ(Apply(m_old, ForgedDiff(m_old, 0, false)), DiffResult::Corrupt);
}

}  // namespace
