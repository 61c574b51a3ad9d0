// What the repair server sends for each kind of difference between a
// client's installation and the reference: the real server, a client
// summary made by the real scan of a client folder, and the records decoded
// by a scripted client.
#include <gtest/gtest.h>

#include "RepairTestSupport.h"
#include "server_test_support.h"

namespace {

using RepairTest::BitwiseCrc;
using RepairTest::Bytes;
using RepairTest::Installation;
using RepairTest::RandomBytes;
using namespace ServerTest;

constexpr std::size_t kSegment = 4194304;

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t length) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
               bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), from + length)));
}

std::uint32_t StoredCrc(const Bytes& bytes) {
  const std::uint32_t crc = BitwiseCrc(bytes.data(), bytes.size());
  return crc == 0 ? 1 : crc;
}

class ServerRecordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(reference.Valid());
    ASSERT_TRUE(client.Valid());
  }
  // Starts the server on the reference and exchanges the client's summary.
  std::map<std::wstring, Record> Repair() {
    ServerProcess server(reference.Native("").string());
    EXPECT_TRUE(server.Running()) << server.Log();
    std::vector<Record> records;
    EXPECT_TRUE(Exchange(server.Port(), ScanSummary(client), records)) << server.Log();
    return ByName(records);
  }
  // The file in both folders.
  void Both(const std::string& name, const Bytes& bytes) {
    reference.Write(name, bytes);
    client.Write(name, bytes);
  }
  void ExpectData(const std::map<std::wstring, Record>& records, const std::wstring& key,
                  const Bytes& expected) {
    const auto found = records.find(key);
    ASSERT_NE(found, records.end()) << "no record for " << std::string(key.begin(), key.end());
    EXPECT_EQ(found->second.checksum, StoredCrc(expected));
    EXPECT_TRUE(found->second.data == expected);
  }
  void ExpectRemoval(const std::map<std::wstring, Record>& records, const std::wstring& key) {
    const auto found = records.find(key);
    ASSERT_NE(found, records.end()) << "no record for " << std::string(key.begin(), key.end());
    EXPECT_EQ(found->second.checksum, 0u);
    EXPECT_FALSE(found->second.compressed);
    EXPECT_EQ(found->second.wireLength, 0u);
  }

  Installation reference;
  Installation client;
};

TEST_F(ServerRecordsTest, IdenticalInstallationsGetNoRecords) {
  Both("bin/Launcher.exe", RandomBytes(kSegment + 10, 1));
  Both("data/a/b/tile.pak", RandomBytes(1000, 2));
  EXPECT_TRUE(Repair().empty());
}

TEST_F(ServerRecordsTest, DamagedSegmentIsTheOnlyOneSent) {
  const Bytes original = RandomBytes(2 * kSegment + 5000, 3);
  reference.Write("bin/game.dll", original);
  Bytes damaged = original;
  damaged[kSegment + 17] ^= 0x40;
  client.Write("bin/game.dll", damaged);
  const auto records = Repair();
  ASSERT_EQ(records.size(), 1u);
  ExpectData(records, L"bin\\game.dll#001", Slice(original, kSegment, kSegment));
}

TEST_F(ServerRecordsTest, MissingFileGetsEverySegmentAndNestedNamesKeepBackslashes) {
  const Bytes original = RandomBytes(kSegment + 3, 4);
  reference.Write("data/maps/deep/region.map", original);
  const auto records = Repair();
  ASSERT_EQ(records.size(), 2u);
  ExpectData(records, L"data\\maps\\deep\\region.map#000", Slice(original, 0, kSegment));
  ExpectData(records, L"data\\maps\\deep\\region.map#001", Slice(original, kSegment, 3));
}

TEST_F(ServerRecordsTest, ExtraFileGetsOneRemovalAtIndexZero) {
  Both("keep.txt", RandomBytes(10, 5));
  client.Write("mods/extra.pak", RandomBytes(2 * kSegment + 1, 6));
  const auto records = Repair();
  ASSERT_EQ(records.size(), 1u);
  ExpectRemoval(records, L"mods\\extra.pak#000");
}

TEST_F(ServerRecordsTest, TruncatedFileGetsItsShortSegmentAndTheMissingOnes) {
  const Bytes original = RandomBytes(2 * kSegment + 100, 7);
  reference.Write("bin/big.bin", original);
  client.Write("bin/big.bin", Slice(original, 0, kSegment / 2));
  const auto records = Repair();
  ASSERT_EQ(records.size(), 3u);
  ExpectData(records, L"bin\\big.bin#000", Slice(original, 0, kSegment));
  ExpectData(records, L"bin\\big.bin#001", Slice(original, kSegment, kSegment));
  ExpectData(records, L"bin\\big.bin#002", Slice(original, 2 * kSegment, kSegment));
}

TEST_F(ServerRecordsTest, GrownFileGetsItsLastSegmentAndARemovalAtTheFirstIndexPastTheReference) {
  const Bytes original = RandomBytes(kSegment + 1000, 8);
  reference.Write("bin/grown.bin", original);
  Bytes grown = original;
  const Bytes tail = RandomBytes(3 * kSegment, 9);
  grown.insert(grown.end(), tail.begin(), tail.end());
  client.Write("bin/grown.bin", grown);
  const auto records = Repair();
  ASSERT_EQ(records.size(), 2u);
  ExpectData(records, L"bin\\grown.bin#001", Slice(original, kSegment, 1000));
  ExpectRemoval(records, L"bin\\grown.bin#002");
}

TEST_F(ServerRecordsTest, FileGrownPastAWholeSegmentBoundaryGetsOnlyTheRemoval) {
  const Bytes original = RandomBytes(2 * kSegment, 10);
  reference.Write("exact.bin", original);
  Bytes grown = original;
  grown.push_back(1);
  client.Write("exact.bin", grown);
  const auto records = Repair();
  ASSERT_EQ(records.size(), 1u);
  ExpectRemoval(records, L"exact.bin#002");
}

TEST_F(ServerRecordsTest, EmptiedClientFileGetsEverySegment) {
  const Bytes original = RandomBytes(kSegment + 1, 11);
  reference.Write("save/profile.dat", original);
  client.Write("save/profile.dat", Bytes{});
  const auto records = Repair();
  ASSERT_EQ(records.size(), 2u);
  ExpectData(records, L"save\\profile.dat#000", Slice(original, 0, kSegment));
}

TEST_F(ServerRecordsTest, FileEmptyInTheReferenceIsEmptiedNotDeleted) {
  reference.Write("logs/empty.log", Bytes{});
  client.Write("logs/empty.log", RandomBytes(5000, 12));
  const auto records = Repair();
  ASSERT_EQ(records.size(), 1u);
  const Record& record = records.begin()->second;
  EXPECT_EQ(record.name, L"logs\\empty.log#000");
  EXPECT_NE(record.checksum, 0u);  // a write of nothing, not a removal
  EXPECT_EQ(record.wireLength, 0u);
  EXPECT_FALSE(record.compressed);
}

TEST_F(ServerRecordsTest, NeverServedNamesGetNoRecordsInEitherDirection) {
  reference.Write("unins000.exe", RandomBytes(3000, 13));
  client.Write("unins000.exe", RandomBytes(3000, 14));
  reference.Write("KorvelPatch.journal", RandomBytes(100, 15));
  // The client's own cache and journal are not asked to go away either.
  std::string stream;
  NolkUtil::AppendLe32(NolkUtil::kSummaryMagic, stream);
  NolkUtil::AppendLe32(3, stream);
  for (const wchar_t* name : {L"KorvelPatch.journal#000", L"repair.cks#000", L"unins000.exe#000"}) {
    NolkUtil::AppendCountedName(name, stream);
    NolkUtil::AppendLe32(77, stream);
    NolkUtil::AppendLe64(1, stream);
  }
  ServerProcess server(reference.Native("").string());
  ASSERT_TRUE(server.Running()) << server.Log();
  std::vector<Record> records;
  ASSERT_TRUE(Exchange(server.Port(), stream, records));
  EXPECT_TRUE(records.empty());
}

TEST_F(ServerRecordsTest, UnsafeClientNamesAreNotEchoedBackAsRemovals) {
  std::string stream;
  NolkUtil::AppendLe32(NolkUtil::kSummaryMagic, stream);
  const std::vector<std::wstring> names{L"..\\..\\etc\\passwd#000", L"\\abs\\x#000", L"C:x#000", L"bad#0x1",
                                        L"fine\\extra.bin#000"};
  NolkUtil::AppendLe32(static_cast<std::uint32_t>(names.size()), stream);
  for (const auto& name : names) {
    NolkUtil::AppendCountedName(name, stream);
    NolkUtil::AppendLe32(5, stream);
    NolkUtil::AppendLe64(1, stream);
  }
  ServerProcess server(reference.Native("").string());
  ASSERT_TRUE(server.Running()) << server.Log();
  std::vector<Record> records;
  ASSERT_TRUE(Exchange(server.Port(), stream, records));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].name, L"fine\\extra.bin#000");
}

TEST_F(ServerRecordsTest, CompressibleSegmentsTravelCompressedAndRandomOnesRaw) {
  Bytes text;
  for (int i = 0; text.size() < kSegment; ++i) {
    const std::string line = Cat("line ", std::to_string(i), " of a very repetitive text file\n");
    text.insert(text.end(), line.begin(), line.end());
  }
  text.resize(kSegment);
  reference.Write("text.txt", text);
  const Bytes noise = RandomBytes(100000, 16);
  reference.Write("noise.bin", noise);
  const auto records = Repair();
  ASSERT_EQ(records.size(), 2u);
  const Record& packed = records.at(L"text.txt#000");
  EXPECT_TRUE(packed.compressed);
  EXPECT_LT(packed.wireLength, kSegment / 4);
  ExpectData(records, L"text.txt#000", text);
  EXPECT_FALSE(records.at(L"noise.bin#000").compressed);
  ExpectData(records, L"noise.bin#000", noise);
}

}  // namespace
