#include "patch/PackageFormat.h"

#include <algorithm>

namespace NolkPatch {
namespace {

static_assert(kPackageMagicSize + kBuildFieldSize + 4 + 4 + 8 + 4 + 8 + 4 == kPackageHeaderSize);
static_assert(kHashFieldSize + kVersionFieldSize == kBuildHashEntrySize);
static_assert(2 * kVersionFieldSize + 8 + 8 == kPatchEntrySize);

// Writes integers and fixed-width fields into a record at increasing
// offsets.
template <std::size_t Size>
class RecordWriter {
 public:
  explicit RecordWriter(std::array<std::uint8_t, Size>& bytes) : m_bytes(bytes) {}

  void PutUnsigned(std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) m_bytes[m_offset++] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  template <typename Byte, std::size_t Width>
  void PutBytes(const std::array<Byte, Width>& field) {
    for (Byte byte : field) m_bytes[m_offset++] = static_cast<std::uint8_t>(byte);
  }

 private:
  std::array<std::uint8_t, Size>& m_bytes;
  std::size_t m_offset = 0;
};

// Reads the same fields back in the same order.
template <std::size_t Size>
class RecordReader {
 public:
  explicit RecordReader(std::span<const std::uint8_t, Size> bytes) : m_bytes(bytes) {}

  std::uint64_t TakeUnsigned(std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value |= std::uint64_t{m_bytes[m_offset++]} << (8 * i);
    return value;
  }
  std::uint32_t TakeU32() { return static_cast<std::uint32_t>(TakeUnsigned(4)); }
  std::uint64_t TakeU64() { return TakeUnsigned(8); }
  template <typename Byte, std::size_t Width>
  void TakeBytes(std::array<Byte, Width>& field) {
    for (Byte& byte : field) byte = static_cast<Byte>(m_bytes[m_offset++]);
  }

 private:
  std::span<const std::uint8_t, Size> m_bytes;
  std::size_t m_offset = 0;
};

}  // namespace

PackageHeaderBytes EncodePackageHeader(const PackageHeader& header) {
  PackageHeaderBytes bytes{};
  RecordWriter writer(bytes);
  writer.PutBytes(header.magic);
  writer.PutBytes(header.build);
  writer.PutUnsigned(header.fileSize, 4);
  writer.PutUnsigned(header.buildHashCount, 4);
  writer.PutUnsigned(header.buildHashTableOffset, 8);
  writer.PutUnsigned(header.patchCount, 4);
  writer.PutUnsigned(header.patchTableOffset, 8);
  writer.PutUnsigned(header.reserved, 4);
  return bytes;
}

BuildHashEntryBytes EncodeBuildHashEntry(const BuildHashEntry& entry) {
  BuildHashEntryBytes bytes{};
  RecordWriter writer(bytes);
  writer.PutBytes(entry.hash);
  writer.PutBytes(entry.version);
  return bytes;
}

PatchEntryBytes EncodePatchEntry(const PatchEntry& entry) {
  PatchEntryBytes bytes{};
  RecordWriter writer(bytes);
  writer.PutBytes(entry.sourceVersion);
  writer.PutBytes(entry.targetVersion);
  writer.PutUnsigned(entry.dataOffset, 8);
  writer.PutUnsigned(entry.dataLength, 8);
  return bytes;
}

PackageHeader DecodePackageHeader(std::span<const std::uint8_t, kPackageHeaderSize> bytes) {
  PackageHeader header;
  RecordReader reader(bytes);
  reader.TakeBytes(header.magic);
  reader.TakeBytes(header.build);
  header.fileSize = reader.TakeU32();
  header.buildHashCount = reader.TakeU32();
  header.buildHashTableOffset = reader.TakeU64();
  header.patchCount = reader.TakeU32();
  header.patchTableOffset = reader.TakeU64();
  header.reserved = reader.TakeU32();
  return header;
}

BuildHashEntry DecodeBuildHashEntry(std::span<const std::uint8_t, kBuildHashEntrySize> bytes) {
  BuildHashEntry entry;
  RecordReader reader(bytes);
  reader.TakeBytes(entry.hash);
  reader.TakeBytes(entry.version);
  return entry;
}

PatchEntry DecodePatchEntry(std::span<const std::uint8_t, kPatchEntrySize> bytes) {
  PatchEntry entry;
  RecordReader reader(bytes);
  reader.TakeBytes(entry.sourceVersion);
  reader.TakeBytes(entry.targetVersion);
  entry.dataOffset = reader.TakeU64();
  entry.dataLength = reader.TakeU64();
  return entry;
}

bool HasPackageMagic(const PackageHeader& header) {
  return header.magic == kPackageMagic;
}

}  // namespace NolkPatch
