// Builds patch archives in memory for the unpacker tests: entries through
// the shared writers, and raw name or content blocks for the malformed and
// hostile cases the writers refuse to produce.
#pragma once

#include <cstdint>
#include <string>

#include "package_test_support.h"
#include "stream/NolkDataBufferMemory.h"

namespace packagetest {

class ArchiveBuilder {
 public:
  explicit ArchiveBuilder(std::uint32_t formatVersion = 1);

  ArchiveBuilder& Folder(const std::wstring& name);
  ArchiveBuilder& File(const std::wstring& name, const Bytes& content);
  // A name block holding exactly these plain bytes.
  ArchiveBuilder& RawNameBlock(const Bytes& plain);
  // A name block for any name, safe or not.
  ArchiveBuilder& RawName(const std::wstring& name);
  ArchiveBuilder& RawContent(const Bytes& content);

  Bytes Get() const { return m_buffer.Bytes(); }

 private:
  void Compress(const Bytes& plain);

  NolkDataBufferMemoryDynamic m_buffer;
};

// A fresh destination two levels below the test folder (root/outer/dest),
// so a name that climbs one or two levels would land inside the test folder
// where the tests can see it.
class ArchiveTest : public TempFolderTest {
 protected:
  void SetUp() override;

  bool Unpack(const Bytes& archive);
  void WriteArchive(const Bytes& archive);
  bool UnpackWrittenArchive();
  std::vector<std::string> DestinationListing() const { return TreeListing(m_destination); }
  // Everything in the test folder outside the destination.
  std::vector<std::string> OutsideListing() const { return TreeListing(m_root, m_destination); }

  std::filesystem::path m_destination;
  std::filesystem::path m_archive;
};

}  // namespace packagetest
