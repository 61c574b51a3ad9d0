#include "archive_test_support.h"

#include "patch/PatchArchive.h"
#include "stream/Compression.h"

namespace packagetest {

ArchiveBuilder::ArchiveBuilder(std::uint32_t formatVersion) {
  if (formatVersion == NolkPatch::kPatchArchiveFormatVersion) {
    EXPECT_EQ(NolkPatch::WriteArchiveHeader(m_buffer), NOLKRESULT_OK);
    return;
  }
  const std::uint8_t bytes[4] = {
      static_cast<std::uint8_t>(formatVersion), static_cast<std::uint8_t>(formatVersion >> 8),
      static_cast<std::uint8_t>(formatVersion >> 16), static_cast<std::uint8_t>(formatVersion >> 24)};
  m_buffer.WriteData(bytes, sizeof bytes);
}

ArchiveBuilder& ArchiveBuilder::Folder(const std::wstring& name) {
  EXPECT_EQ(NolkPatch::WriteFolderEntry(m_buffer, name), NOLKRESULT_OK);
  return *this;
}

ArchiveBuilder& ArchiveBuilder::File(const std::wstring& name, const Bytes& content) {
  Bytes copy = content;
  NolkDataBufferMemoryStatic source(copy.data(), static_cast<std::uint32_t>(copy.size()));
  EXPECT_EQ(NolkPatch::WriteFileEntry(m_buffer, name, source), NOLKRESULT_OK);
  return *this;
}

ArchiveBuilder& ArchiveBuilder::RawNameBlock(const Bytes& plain) {
  Compress(plain);
  return *this;
}

ArchiveBuilder& ArchiveBuilder::RawName(const std::wstring& name) {
  std::u16string units;
  EXPECT_TRUE(NolkPatch::EncodeUtf16(name, units));
  Compress(NolkPatch::EncodeNameBlock(units));
  return *this;
}

ArchiveBuilder& ArchiveBuilder::RawContent(const Bytes& content) {
  Compress(content);
  return *this;
}

void ArchiveBuilder::Compress(const Bytes& plain) {
  Bytes copy = plain;
  NolkDataBufferMemoryStatic source(copy.data(), static_cast<std::uint32_t>(copy.size()));
  EXPECT_EQ(NolkUtil::CompressData(m_buffer, source), NOLKRESULT_OK);
}

void ArchiveTest::SetUp() {
  TempFolderTest::SetUp();
  m_destination = m_root / "outer" / "dest";
  std::filesystem::create_directories(m_destination);
  m_archive = m_root / "patch.archive";
}

bool ArchiveTest::Unpack(const Bytes& archive) {
  WriteArchive(archive);
  return UnpackWrittenArchive();
}

void ArchiveTest::WriteArchive(const Bytes& archive) {
  WriteFileBytes(m_archive, archive);
}

bool ArchiveTest::UnpackWrittenArchive() {
  return NolkPatch::UnpackPatchArchive(m_archive.wstring(), m_destination.wstring());
}

}  // namespace packagetest
