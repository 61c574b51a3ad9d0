#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "StreamTestSupport.h"
#include "stream/Compression.h"
#include "stream/NolkDataBufferFile.h"

namespace {

using NolkUtil::CompressData;
using NolkUtil::DecompressData;
using StreamTest::Bytes;
using StreamTest::LogCapture;
using StreamTest::PatternBytes;
using StreamTest::WatchedBuffer;

std::uint32_t Uint32At(const Bytes& bytes, std::size_t offset) {
  return std::uint32_t{bytes[offset]} | std::uint32_t{bytes[offset + 1]} << 8 |
         std::uint32_t{bytes[offset + 2]} << 16 | std::uint32_t{bytes[offset + 3]} << 24;
}

void AppendUint32(Bytes& bytes, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

Bytes Header(std::uint32_t count, std::uint32_t packedLength, std::uint32_t plainLength) {
  Bytes header;
  AppendUint32(header, count);
  AppendUint32(header, packedLength);
  AppendUint32(header, plainLength);
  return header;
}

// One block of real zlib data under a plain length of our choosing.
Bytes HandMadeStream(const Bytes& plain, std::uint32_t claimedPlainLength) {
  uLongf packedLength = compressBound(plain.size());
  Bytes packed(packedLength);
  EXPECT_EQ(compress(packed.data(), &packedLength, plain.data(), plain.size()), Z_OK);
  Bytes stream = Header(1, static_cast<std::uint32_t>(packedLength), claimedPlainLength);
  stream.insert(stream.end(), packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(packedLength));
  return stream;
}

Bytes Compressed(const Bytes& plain) {
  WatchedBuffer source(plain);
  NolkDataBufferMemoryDynamic destination;
  EXPECT_EQ(CompressData(destination, source), NOLKRESULT_OK);
  return destination.Bytes();
}

NolkResult Decompress(const Bytes& stream, Bytes* plain = nullptr) {
  WatchedBuffer source(stream);
  NolkDataBufferMemoryDynamic destination;
  const NolkResult result = DecompressData(destination, source);
  if (plain != nullptr) *plain = destination.Bytes();
  return result;
}

TEST(CompressDataTest, EmptySourceGivesFourZeroBytesThatExpandToNothing) {
  const Bytes stream = Compressed({});
  EXPECT_EQ(stream, Bytes(4, 0));
  Bytes plain{1};
  EXPECT_EQ(Decompress(stream, &plain), NOLKRESULT_OK);
  EXPECT_TRUE(plain.empty());
}

TEST(CompressDataTest, RoundTripsFromTheSourcePositionAtTheDestinationPosition) {
  const Bytes text = PatternBytes(5000);
  WatchedBuffer source(text);
  source.SetPosition(1000);
  NolkDataBufferMemoryDynamic destination;
  destination.WriteData("prefix", 6);
  ASSERT_EQ(CompressData(destination, source), NOLKRESULT_OK);
  EXPECT_EQ(destination.GetPosition(), destination.GetSize());
  const Bytes& stream = destination.Bytes();
  EXPECT_EQ(Uint32At(stream, 6), 1u);
  EXPECT_EQ(Uint32At(stream, 10), stream.size() - 18);
  EXPECT_EQ(Uint32At(stream, 14), 4000u);

  destination.SetPosition(6);
  NolkDataBufferMemoryDynamic plain;
  ASSERT_EQ(DecompressData(plain, destination), NOLKRESULT_OK);
  EXPECT_EQ(plain.Bytes(), Bytes(text.begin() + 1000, text.end()));
}

TEST(CompressDataTest, FailingDestinationStillGetsTheBlockCount) {
  WatchedBuffer source(PatternBytes(1000));
  Bytes block(20);
  NolkDataBufferMemoryStatic destination(block.data(), 20);
  EXPECT_EQ(CompressData(destination, source), NOLKRESULT_NO_ROOM);
  EXPECT_EQ(Uint32At(block, 0), 1u);
  EXPECT_EQ(Uint32At(block, 8), 1000u);
  EXPECT_EQ(Decompress(block), NOLKRESULT_END_OF_DATA);  // the broken block is seen
}

TEST(CompressDataLargeTest, OneByteOverTheBlockLimitGivesTwoBlocks) {
  constexpr std::uint32_t kLimit = NolkUtil::kMaxCompressedBlockPlainLength;
  ASSERT_EQ(kLimit, 268435456u);
  if (sizeof(void*) < 8)
    GTEST_SKIP() << "needs a 64-bit address space: the plain copies, the per-thread block buffers and a "
                    "buffer growing past 256 MiB do not fit in a 32-bit process at once";
  // Mostly zeros, so it compresses quickly; the marks show the blocks come
  // back in order around the boundary. Each plain copy is released before
  // the next is made: a 32-bit process has room for few blocks of this size.
  const std::pair<std::uint32_t, char> marks[] = {{0, 'a'}, {kLimit - 1, 'b'}, {kLimit, 'c'}};
  NolkDataBufferMemoryDynamic destination;
  {
    NolkDataBufferMemoryDynamic source;
    ASSERT_EQ(source.SetSize(std::uint64_t{kLimit} + 1), NOLKRESULT_OK);
    for (const auto& [offset, mark] : marks) {
      source.SetPosition(offset);
      source.WriteData(&mark, 1);
    }
    source.SetPosition(0);
    ASSERT_EQ(CompressData(destination, source), NOLKRESULT_OK);
  }

  const Bytes& stream = destination.Bytes();
  EXPECT_EQ(Uint32At(stream, 0), 2u);
  EXPECT_EQ(Uint32At(stream, 8), kLimit);
  const std::size_t second = 12 + std::size_t{Uint32At(stream, 4)};
  ASSERT_LT(second + 8, stream.size());
  EXPECT_EQ(Uint32At(stream, second + 4), 1u);
  EXPECT_EQ(stream.size(), second + 8 + Uint32At(stream, second));

  WatchedBuffer packed(stream);
  NolkDataBufferMemoryDynamic unpacked;
  ASSERT_EQ(DecompressData(unpacked, packed), NOLKRESULT_OK);
  const Bytes& plain = unpacked.Bytes();
  ASSERT_EQ(plain.size(), std::size_t{kLimit} + 1);
  for (const auto& [offset, mark] : marks) EXPECT_EQ(plain[offset], static_cast<std::uint8_t>(mark));
}

TEST(DecompressDataTest, PlainLengthSmallerThanContentIsAZlibError) {
  const Bytes stream = HandMadeStream(PatternBytes(3000), 2999);
  LogCapture log;
  EXPECT_EQ(Decompress(stream), NOLKRESULT_NO_ROOM);
  EXPECT_TRUE(log.HasLine(L"NolkUtil::DecompressData> err -5"));
  EXPECT_TRUE(log.HasLine(L"NolkUtil::DecompressData> srcLen=" + std::to_wstring(Uint32At(stream, 4)) +
                          L", dstLen=2999, actualDstLen=2999"));
}

TEST(DecompressDataTest, PlainLengthLargerThanContentIsEndOfData) {
  const Bytes text = PatternBytes(3000);
  EXPECT_EQ(Decompress(HandMadeStream(text, 3001)), NOLKRESULT_END_OF_DATA);
  Bytes plain;
  EXPECT_EQ(Decompress(HandMadeStream(text, 3000), &plain), NOLKRESULT_OK);
  EXPECT_EQ(plain, text);
}

TEST(DecompressDataTest, TruncatedStreamIsEndOfDataWhereverItIsCut) {
  Bytes twoClaimed = HandMadeStream(PatternBytes(100), 100);
  twoClaimed[0] = 2;
  EXPECT_EQ(Decompress(twoClaimed), NOLKRESULT_END_OF_DATA);
  const Bytes whole = Compressed(PatternBytes(2000));
  for (std::size_t cut :
       std::initializer_list<std::size_t>{0, 2, 6, 11, 12, whole.size() / 2, whole.size() - 1}) {
    LogCapture quiet;
    EXPECT_EQ(Decompress(Bytes(whole.begin(), whole.begin() + cut)), NOLKRESULT_END_OF_DATA) << cut;
  }
}

TEST(DecompressDataTest, ShortHeaderReadFromAFileIsEndOfData) {
  StreamTest::TempFolder folder;
  ASSERT_TRUE(folder.Valid());
  StreamTest::WriteWholeFile(folder.File("cut.bin"), StreamTest::Text(Header(1, 9, 9)).substr(0, 7));
  NolkDataBufferFile source(folder.WideFile("cut.bin"), NolkDataBufferFile::ReadOnly);
  NolkDataBufferMemoryDynamic destination;
  LogCapture log;
  EXPECT_EQ(DecompressData(destination, source), NOLKRESULT_END_OF_DATA);
  EXPECT_TRUE(log.HasLine(L"NolkUtil::DecompressData> ReadData returned 2"));
}

TEST(DecompressDataTest, HostileLengthsAreRejectedBeforeTheDataIsRead) {
  struct Hostile {
    std::uint32_t packed, plain;
    bool sizeKnown;
    NolkResult expected;
  };
  for (const Hostile& hostile : {Hostile{16, 0xFFFFFFFFu, true, NOLKRESULT_WRONG_FORMAT},
                                 Hostile{16, (1u << 28) + 1, false, NOLKRESULT_WRONG_FORMAT},
                                 Hostile{0xFFFFFFF0u, 100, false, NOLKRESULT_WRONG_FORMAT},
                                 Hostile{17, 100, true, NOLKRESULT_END_OF_DATA}}) {
    Bytes stream = Header(1, hostile.packed, hostile.plain);
    stream.resize(stream.size() + 16, 0x55);
    WatchedBuffer source(stream);
    if (!hostile.sizeKnown) source.ReportSize(0);  // a stream of unknown length
    NolkDataBufferMemoryDynamic destination;
    LogCapture quiet;
    EXPECT_EQ(DecompressData(destination, source), hostile.expected)
        << hostile.packed << "/" << hostile.plain;
    EXPECT_EQ(source.ReadLengths().size(), 3u);
  }
}

TEST(DecompressDataTest, FailingReadOrWriteIsPassedOn) {
  const Bytes stream = Compressed(PatternBytes(100));
  WatchedBuffer source(stream);
  source.FailReadsAfter(3, NOLKRESULT_CONNECTION_LOST);
  NolkDataBufferMemoryDynamic destination;
  LogCapture log;
  EXPECT_EQ(DecompressData(destination, source), NOLKRESULT_CONNECTION_LOST);
  EXPECT_TRUE(log.HasLine(L"NolkUtil::DecompressData> ReadData returned 3"));

  WatchedBuffer intact(stream);
  Bytes block(50);
  NolkDataBufferMemoryStatic small(block.data(), 50);
  EXPECT_EQ(DecompressData(small, intact), NOLKRESULT_NO_ROOM);
}

// Memory buffers are decoded where their bytes lie; the results must be
// those of the buffered path, and a damaged block must not move the
// destination past what was decoded before it.
TEST(DecompressDataTest, InPlaceDecodeBetweenMemoryBlocksMatchesTheBufferedPath) {
  Bytes first = PatternBytes(5000), second = PatternBytes(7000, 2);
  Bytes stream = Header(2, 0, 0);
  stream.resize(4);
  for (const Bytes* plain : {&first, &second}) {
    const Bytes one = HandMadeStream(*plain, static_cast<std::uint32_t>(plain->size()));
    stream.insert(stream.end(), one.begin() + 4, one.end());
  }
  Bytes expected = first;
  expected.insert(expected.end(), second.begin(), second.end());

  Bytes output(expected.size() + 10, 0xEE);
  NolkDataBufferMemoryStatic source(stream.data(), static_cast<std::uint32_t>(stream.size()));
  NolkDataBufferMemoryStatic destination(output.data(), static_cast<std::uint32_t>(output.size()));
  ASSERT_EQ(DecompressData(destination, source), NOLKRESULT_OK);
  EXPECT_EQ(destination.GetPosition(), expected.size());
  EXPECT_EQ(source.GetPosition(), stream.size());
  EXPECT_EQ(Bytes(output.begin(), output.begin() + static_cast<std::ptrdiff_t>(expected.size())), expected);
  EXPECT_EQ(output.back(), 0xEE);

  Bytes damaged = stream;
  damaged[damaged.size() - 3] ^= 0x40;  // the second block's Adler-32
  NolkDataBufferMemoryStatic damagedSource(damaged.data(), static_cast<std::uint32_t>(damaged.size()));
  NolkDataBufferMemoryStatic target(output.data(), static_cast<std::uint32_t>(output.size()));
  LogCapture log;
  EXPECT_EQ(DecompressData(target, damagedSource), NOLKRESULT_NO_ROOM);
  EXPECT_EQ(target.GetPosition(), first.size());
  EXPECT_TRUE(log.HasLine(L"NolkUtil::DecompressData> err -3"));
}

TEST(DecompressDataTest, RandomGarbageFailsCleanly) {
  std::mt19937 random(1234);
  LogCapture quiet;
  for (int round = 0; round < 200; ++round) {
    Bytes garbage(4 + random() % 600);
    for (auto& byte : garbage) byte = static_cast<std::uint8_t>(random() | 1);
    if (round % 2 == 1 && garbage.size() >= 12) {
      // A believable header, so zlib itself gets the garbage.
      const Bytes header = Header(1, static_cast<std::uint32_t>(garbage.size() - 12), random() % 65536);
      std::copy(header.begin(), header.end(), garbage.begin());
    }
    Bytes plain;
    EXPECT_NE(Decompress(garbage, &plain), NOLKRESULT_OK) << round;
    EXPECT_TRUE(plain.empty());
  }
}

}  // namespace
