#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>

#include "KernelStandard/CompressedFile.h"
#include "KernelStandard/File.h"
#include "bytepair_test_data.h"
#include "file_test_support.h"

namespace {

using korvel_test::Bytes;
constexpr std::size_t kChunk = Vek::kCompressedChunkSize;
constexpr unsigned kWriteCompressed = Vek::FILE_OPEN_WRITE | Vek::FILE_OPEN_COMPRESSED;
constexpr unsigned kReadCompressed = Vek::FILE_OPEN_READ | Vek::FILE_OPEN_COMPRESSED;

std::uint32_t LittleEndian32(const Bytes& bytes, std::size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (std::uint32_t(bytes[at + 3]) << 24);
}

std::uint16_t LittleEndian16(const Bytes& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

class CompressedFile : public korvel_test::FileTestFolder {
 protected:
  // Writes in pieces of varying size, so buffered and direct writes mix.
  bool WriteCompressed(const std::string& name, const Bytes& data) {
    Vek::File file;
    if (!file.Open(PathOf(name), kWriteCompressed)) return false;
    std::mt19937 generator(static_cast<std::uint32_t>(data.size()));
    bool allWritten = true;
    for (std::size_t at = 0; at < data.size();) {
      std::size_t piece = std::min<std::size_t>(data.size() - at, 1 + generator() % (2 * kChunk));
      if (file.Write(data.data() + at, piece) != piece) allWritten = false;
      at += piece;
    }
    bool closed = file.Close();
    return closed && allWritten;
  }

  // Reads to the end; false when a read reports failure.
  bool ReadAll(const std::string& name, Bytes& back) {
    back.clear();
    Vek::File file;
    if (!file.Open(PathOf(name), kReadCompressed)) return false;
    Bytes piece(3 * kChunk);
    std::mt19937 generator(7);
    while (true) {
      std::int64_t got = file.Read(piece.data(), 1 + generator() % piece.size());
      if (got < 0) return false;
      if (got == 0) return true;
      back.insert(back.end(), piece.begin(), piece.begin() + got);
    }
  }

  void ExpectRoundTrip(const Bytes& data) {
    ASSERT_TRUE(WriteCompressed("c.bin", data));
    Bytes raw = ReadRaw("c.bin");
    ASSERT_GE(raw.size(), Vek::kCompressedHeaderSize);
    EXPECT_EQ(LittleEndian32(raw, 8), data.size());
    Bytes back;
    ASSERT_TRUE(ReadAll("c.bin", back)) << "size " << data.size();
    EXPECT_EQ(back, data) << "size " << data.size();
  }
};

TEST_F(CompressedFile, RoundTripsRandomAndRepetitiveData) {
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, kChunk - 1, kChunk, kChunk + 1, 5 * kChunk + 77}) {
    ExpectRoundTrip(korvel_test::RandomBytes(size, static_cast<std::uint32_t>(size)));
    ExpectRoundTrip(korvel_test::TextLikeBytes(size, static_cast<std::uint32_t>(size)));
  }
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"c.bin"});  // no temporary file left
}

TEST_F(CompressedFile, HeaderAndChunkLayoutWithStoredChunks) {
  Bytes data = korvel_test::TextLikeBytes(kChunk, 1);
  Bytes noise = korvel_test::RandomBytes(100, 2);
  data.insert(data.end(), noise.begin(), noise.end());
  ASSERT_TRUE(WriteCompressed("c.bin", data));
  Bytes raw = ReadRaw("c.bin");
  ASSERT_GT(raw.size(), 14u);
  EXPECT_EQ(Bytes(raw.begin(), raw.begin() + 4), (Bytes{'C', 'F', 'I', 'L'}));
  EXPECT_EQ(LittleEndian32(raw, 4), 0x101u);
  EXPECT_EQ(LittleEndian32(raw, 8), data.size());
  // The text chunk shrinks; the 100 noise bytes are stored.
  std::uint16_t first = LittleEndian16(raw, 12);
  EXPECT_EQ(first & 0x8000, 0);
  EXPECT_LT(first, kChunk / 2);
  std::size_t second = 14 + first;
  ASSERT_EQ(raw.size(), second + 2 + 100);
  EXPECT_EQ(LittleEndian16(raw, second), 0x8000 | 100);
  EXPECT_EQ(Bytes(raw.begin() + second + 2, raw.end()), noise);

  ASSERT_TRUE(WriteCompressed("r.bin", korvel_test::RandomBytes(kChunk, 3)));
  raw = ReadRaw("r.bin");
  ASSERT_EQ(raw.size(), 12 + 2 + kChunk);
  EXPECT_EQ(LittleEndian16(raw, 12), 0x8000 | kChunk);
}

TEST_F(CompressedFile, TemporaryNamesCarryProcessIdAndCounter) {
  std::wstring first = Vek::NextCompressionTempName();
  std::wstring second = Vek::NextCompressionTempName();
  unsigned pid = 0, a = 0, b = 0;
  ASSERT_EQ(first.size(), 18u);
  ASSERT_EQ(std::swscanf(first.c_str(), L"%8X.T%8X", &pid, &a), 2);
  ASSERT_EQ(std::swscanf(second.c_str(), L"%*8X.T%8X", &b), 1);
  EXPECT_EQ(pid, static_cast<unsigned>(getpid()));
  EXPECT_EQ(b, a + 1);
}

TEST_F(CompressedFile, SeeksForwardBackwardAndAcrossChunks) {
  Bytes data = korvel_test::TextLikeBytes(6 * kChunk + 300, 5);
  Bytes noise = korvel_test::RandomBytes(kChunk, 6);  // one stored chunk among them
  std::copy(noise.begin(), noise.end(), data.begin() + 2 * kChunk);
  ASSERT_TRUE(WriteCompressed("c.bin", data));
  Vek::File file;
  ASSERT_TRUE(file.Open(PathOf("c.bin"), kReadCompressed));
  ASSERT_TRUE(file.IsCompressed());
  EXPECT_EQ(file.Size(), data.size());
  for (std::size_t target : {std::size_t{70000}, std::size_t{100}, 3 * kChunk + 5, kChunk - 1, 6 * kChunk,
                             2 * kChunk + 10, 6 * kChunk + 290, std::size_t{0}}) {
    ASSERT_EQ(file.Seek(target), std::int64_t(target));
    Bytes piece(40);
    std::int64_t got = file.Read(piece.data(), piece.size());
    std::size_t expected = std::min<std::size_t>(40, data.size() - target);
    ASSERT_EQ(got, std::int64_t(expected)) << "at " << target;
    EXPECT_EQ(Bytes(piece.begin(), piece.begin() + got),
              Bytes(data.begin() + target, data.begin() + target + got))
        << "at " << target;
  }
  EXPECT_EQ(file.Seek(data.size() + 10), std::int64_t(data.size() + 10));
  char extra;
  EXPECT_EQ(file.Read(&extra, 1), 0);
}

TEST_F(CompressedFile, HeaderDecidesHowAFileIsRead) {
  Bytes data = {'n', 'o', 't', ' ', 'C', 'F', 'I', 'L'};
  WriteRaw("p.bin", data);
  Bytes back;
  ASSERT_TRUE(ReadAll("p.bin", back));
  EXPECT_EQ(back, data);
  Vek::File file;
  ASSERT_TRUE(file.Open(PathOf("p.bin"), kReadCompressed));
  EXPECT_FALSE(file.IsCompressed());
  file.Close();
  WriteRaw("v.bin", {'C', 'F', 'I', 'L', 0x02, 0x01, 0, 0, 0, 0, 0, 0});
  EXPECT_FALSE(file.Open(PathOf("v.bin"), kReadCompressed));  // unknown version
}

class DamagedCompressedFile : public CompressedFile {
 protected:
  void SetUp() override {
    CompressedFile::SetUp();
    m_data = korvel_test::TextLikeBytes(3 * kChunk + 50, 8);
    ASSERT_TRUE(WriteCompressed("c.bin", m_data));
    m_raw = ReadRaw("c.bin");
    m_second = 14 + LittleEndian16(m_raw, 12);
  }

  // Reading must fail and leave the file marked damaged.
  void ExpectReadFails(const Bytes& damaged) {
    WriteRaw("d.bin", damaged);
    Vek::File file;
    ASSERT_TRUE(file.Open(PathOf("d.bin"), kReadCompressed));
    Bytes back(m_data.size());
    EXPECT_EQ(file.Read(back.data(), back.size()), -1);
    EXPECT_EQ(file.Size(), 0u);
    EXPECT_EQ(file.Read(back.data(), 1), -1);
    EXPECT_EQ(file.Seek(0), -1);
  }

  Bytes m_data;
  Bytes m_raw;
  std::size_t m_second = 0;
};

TEST_F(DamagedCompressedFile, TruncatedFileFailsOnReadAndSeek) {
  for (std::size_t keep : {std::size_t{13}, std::size_t{20}, m_second + 1, m_raw.size() - 1}) {
    ExpectReadFails(Bytes(m_raw.begin(), m_raw.begin() + keep));
  }
  WriteRaw("d.bin", Bytes(m_raw.begin(), m_raw.begin() + m_second));
  Vek::File file;
  ASSERT_TRUE(file.Open(PathOf("d.bin"), kReadCompressed));
  EXPECT_EQ(file.Seek(10), 10);
  EXPECT_EQ(file.Seek(2 * kChunk), -1);  // the chunk is missing
  EXPECT_EQ(file.Size(), 0u);
}

TEST_F(DamagedCompressedFile, BadChunkLengthsFail) {
  Bytes longer = m_raw;
  longer[12] = 0xFF;
  longer[13] = 0x7F;  // compressed length past the end of the file
  ExpectReadFails(longer);
  Bytes stored = m_raw;
  stored[13] |= 0x80;  // stored, but its length is not the chunk's content length
  ExpectReadFails(stored);
  Bytes shorter = m_raw;
  shorter[12] = 3;
  shorter[13] = 0;  // too short to expand to a whole chunk
  ExpectReadFails(shorter);
  Bytes claimsMore = m_raw;
  claimsMore[10] = 1;  // content length 64 KiB larger than the chunks hold
  ExpectReadFails(claimsMore);
}

TEST_F(DamagedCompressedFile, FlippedBytesNeverOverrun) {
  std::mt19937 generator(9);
  int failures = 0;
  for (int round = 0; round < 200; ++round) {
    Bytes damaged = m_raw;
    std::size_t at = 12 + generator() % (damaged.size() - 12);
    damaged[at] ^= static_cast<std::uint8_t>(1 + generator() % 255);
    WriteRaw("d.bin", damaged);
    Bytes back;
    if (!ReadAll("d.bin", back)) {
      ++failures;
    } else {
      EXPECT_EQ(back.size(), m_data.size());  // the format has no checksum
    }
  }
  EXPECT_GT(failures, 0);
}

class CompressedFileFaults : public CompressedFile {
 protected:
  Bytes m_data = korvel_test::TextLikeBytes(2 * kChunk, 10);
};

TEST_F(CompressedFileFaults, FailedTemporaryWriteKeepsThePlainFile) {
  OS::ScopedFaults faults;
  faults.Add(korvel_test::Fault("WriteDescriptor", ".T0"));
  EXPECT_FALSE(WriteCompressed("c.bin", m_data));
  EXPECT_EQ(ReadRaw("c.bin"), m_data);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"c.bin"});
}

TEST_F(CompressedFileFaults, FailedPlainWriteIsNotCompressed) {
  OS::ScopedFaults faults;
  faults.Add(korvel_test::Fault("WriteDescriptor", "c.bin"));
  EXPECT_FALSE(WriteCompressed("c.bin", m_data));
  Bytes raw = ReadRaw("c.bin");
  EXPECT_FALSE(raw.size() >= 4 && raw[0] == 'C' && raw[1] == 'F');
}

TEST_F(CompressedFileFaults, UnmovableTemporaryIsCopiedOrKept) {
  OS::ScopedFaults faults;
  faults.Add(korvel_test::Fault("MoveFile"));
  ASSERT_TRUE(WriteCompressed("c.bin", m_data));  // copied instead
  Bytes back;
  ASSERT_TRUE(ReadAll("c.bin", back));
  EXPECT_EQ(back, m_data);
  faults.Add(korvel_test::Fault("CopyFile"));
  EXPECT_FALSE(WriteCompressed("c.bin", m_data));
  std::vector<std::string> entries = FolderEntries();
  ASSERT_EQ(entries.size(), 1u);
  ASSERT_NE(entries[0].find(".T"), std::string::npos);
  ASSERT_TRUE(ReadAll(entries[0], back));
  EXPECT_EQ(back, m_data);
}

}  // namespace
