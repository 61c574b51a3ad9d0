#include "tools/publisher/Packager.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "KernelStandard/Md5.h"
#include "KernelStandard/platform/Platform.h"
#include "patch/PackageFormat.h"
#include "patch/PatchArchive.h"
#include "patch/signing/PackageSignature.h"
#include "stream/DataCopy.h"
#include "stream/NolkDataBufferFile.h"
#include "tools/publisher/PackageLayout.h"
#include "tools/publisher/PublisherNames.h"
#include "tools/publisher/StagedOutput.h"

namespace KorvelTools {
namespace {

PublisherResult StatInput(const std::wstring& path, const std::string& what, std::uint64_t& size) {
  OS::FileInfo info;
  if (!OS::Current().Stat(path, info) || info.isDirectory)
    return PublisherResult::Refuse(what + " is missing or not a file: " + Printable(path));
  size = info.size;
  return PublisherResult::Success();
}

// The reader takes the first magic it finds at a multiple of 4,096, so a
// patcher that already holds one would hide the new package.
PublisherResult CheckPatcherCarriesNoPackage(const std::wstring& path, std::uint64_t size) {
  NolkDataBufferFile file(path, NolkDataBufferFile::ReadOnly);
  if (!file.IsOpen()) return PublisherResult::Refuse("cannot read the patcher " + Printable(path));
  std::array<std::uint8_t, NolkPatch::kPackageMagicSize> bytes{};
  for (std::uint64_t position = 0; position + bytes.size() <= size;
       position += NolkPatch::kPackageAlignment) {
    if (file.SetPosition(position) != NOLKRESULT_OK ||
        file.ReadData(bytes.data(), bytes.size()) != NOLKRESULT_OK)
      return PublisherResult::Fail("cannot read the patcher " + Printable(path));
    if (bytes == NolkPatch::kPackageMagic)
      return PublisherResult::Refuse("the patcher already carries a package at offset " +
                                     std::to_string(position) +
                                     "; give the plain patcher executable: " + Printable(path));
  }
  return PublisherResult::Success();
}

PublisherResult CheckArchiveFormat(const std::wstring& path) {
  NolkDataBufferFile file(path, NolkDataBufferFile::ReadOnly);
  std::array<std::uint8_t, 4> bytes{};
  if (!file.IsOpen() || file.ReadData(bytes.data(), bytes.size()) != NOLKRESULT_OK)
    return PublisherResult::Refuse("cannot read the patch archive " + Printable(path));
  const std::uint32_t version = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                                std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
  if (version != NolkPatch::kPatchArchiveFormatVersion)
    return PublisherResult::Refuse("not a patch archive of format version 1: " + Printable(path));
  return PublisherResult::Success();
}

PublisherResult CheckInputFiles(const PackageOptions& options, std::uint64_t& patcherSize,
                                std::vector<std::uint64_t>& archiveSizes) {
  PublisherResult result = StatInput(options.patcherPath, "the patcher executable", patcherSize);
  if (result.Ok()) result = CheckPatcherCarriesNoPackage(options.patcherPath, patcherSize);
  archiveSizes.assign(options.patches.size(), 0);
  for (std::size_t i = 0; result.Ok() && i < options.patches.size(); ++i) {
    result = StatInput(options.patches[i].archivePath, "the patch archive", archiveSizes[i]);
    if (result.Ok()) result = CheckArchiveFormat(options.patches[i].archivePath);
  }
  return result;
}

NolkPatch::PackageHeader MakeHeader(const PackageOptions& options, const PackageLayout& layout) {
  NolkPatch::PackageHeader header;
  NolkPatch::SetTextField(header.build, options.finalVersion);
  header.fileSize = static_cast<std::uint32_t>(layout.totalSize);
  header.buildHashCount = static_cast<std::uint32_t>(options.builds.size());
  header.buildHashTableOffset = layout.buildHashTableOffset;
  header.patchCount = static_cast<std::uint32_t>(options.patches.size());
  header.patchTableOffset = layout.patchTableOffset;
  return header;
}

bool WantsSignatureRoom(const PackageOptions& options) {
  return options.signatureRoom || options.signer != nullptr;
}

class PackageWriter {
 public:
  PackageWriter(const PackageOptions& options, const PackageLayout& layout, const std::wstring& path)
      : m_options(options), m_layout(layout), m_file(path, NolkDataBufferFile::WriteUpdate) {}

  // The temporary file already holds the patcher's bytes.
  NolkResult Write(std::uint64_t patcherSize, const std::vector<std::uint64_t>& archiveSizes) {
    if (!m_file.IsOpen()) return NOLKRESULT_NOT_OPEN;
    if (m_file.GetSize() != patcherSize) return NOLKRESULT_FILE_ERROR;
    NolkResult code = m_file.SetPosition(patcherSize);
    if (code == NOLKRESULT_OK) code = WritePadding();
    if (code == NOLKRESULT_OK)
      code = WriteRecord(NolkPatch::EncodePackageHeader(MakeHeader(m_options, m_layout)));
    for (std::size_t i = 0; code == NOLKRESULT_OK && i < m_options.patches.size(); ++i)
      code = WriteArchive(m_options.patches[i].archivePath, archiveSizes[i]);
    if (code == NOLKRESULT_OK) code = WriteBuildHashTable();
    if (code == NOLKRESULT_OK) code = WritePatchTable();
    m_file.Flush();
    if (code == NOLKRESULT_OK && m_file.GetSize() != m_layout.totalSize) code = NOLKRESULT_FILE_ERROR;
    return code;
  }

 private:
  // Zeros; with the signature room, its reserved block ends the padding.
  NolkResult WritePadding() {
    const std::array<std::uint8_t, NolkPatch::kPackageAlignment> zeros{};
    std::uint64_t length = m_layout.paddingLength;
    const bool room = WantsSignatureRoom(m_options);
    if (room) length -= NolkSign::kPackageSignatureBlockSize;
    NolkResult code = NOLKRESULT_OK;
    while (code == NOLKRESULT_OK && length > 0) {
      const auto pass = static_cast<std::uint32_t>(std::min<std::uint64_t>(length, zeros.size()));
      code = m_file.WriteData(zeros.data(), pass);
      length -= pass;
    }
    if (code == NOLKRESULT_OK && room) code = WriteRecord(NolkSign::ReservedSignatureBlock());
    return code;
  }

  template <std::size_t Size>
  NolkResult WriteRecord(const std::array<std::uint8_t, Size>& bytes) {
    return m_file.WriteData(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  }

  // An archive that changed length since it was checked would shift every
  // offset behind it, so the length is checked again while copying.
  NolkResult WriteArchive(const std::wstring& path, std::uint64_t size) {
    NolkDataBufferFile archive(path, NolkDataBufferFile::ReadOnly);
    if (!archive.IsOpen() || archive.GetSize() != size) return NOLKRESULT_FILE_ERROR;
    return CopyData(m_file, archive, size);
  }

  NolkResult WriteBuildHashTable() {
    NolkResult code = NOLKRESULT_OK;
    for (std::size_t i = 0; code == NOLKRESULT_OK && i < m_options.builds.size(); ++i) {
      NolkPatch::BuildHashEntry entry;
      NolkPatch::SetTextField(entry.hash, m_options.builds[i].hash);
      NolkPatch::SetTextField(entry.version, m_options.builds[i].version);
      code = WriteRecord(NolkPatch::EncodeBuildHashEntry(entry));
    }
    return code;
  }

  NolkResult WritePatchTable() {
    NolkResult code = NOLKRESULT_OK;
    for (std::size_t i = 0; code == NOLKRESULT_OK && i < m_options.patches.size(); ++i) {
      NolkPatch::PatchEntry entry;
      NolkPatch::SetTextField(entry.sourceVersion, m_options.patches[i].sourceVersion);
      NolkPatch::SetTextField(entry.targetVersion, m_options.patches[i].targetVersion);
      entry.dataOffset = m_layout.archiveOffsets[i];
      const std::uint64_t next = i + 1 < m_layout.archiveOffsets.size() ? m_layout.archiveOffsets[i + 1]
                                                                        : m_layout.buildHashTableOffset;
      entry.dataLength = next - entry.dataOffset;
      code = WriteRecord(NolkPatch::EncodePatchEntry(entry));
    }
    return code;
  }

  const PackageOptions& m_options;
  const PackageLayout& m_layout;
  NolkDataBufferFile m_file;
};

PublisherResult SignStaged(const PackageOptions& options, const PackageLayout& layout,
                           const std::wstring& path) {
  if (options.signer == nullptr) return PublisherResult::Success();
  NolkDataBufferFile file(path, NolkDataBufferFile::ReadWrite);
  std::string problem = "cannot open " + Printable(path);
  if (file.IsOpen() && NolkSign::SignPackage(file, layout.headerOffset, *options.signer, problem))
    return PublisherResult::Success();
  return PublisherResult::Fail(problem);
}

PublisherResult WriteStaged(const PackageOptions& options, const PackageLayout& layout,
                            std::uint64_t patcherSize, const std::vector<std::uint64_t>& archiveSizes) {
  StagedOutput output(options.outputPath);
  if (!OS::Current().CopyFile(options.patcherPath, output.TemporaryPath(), true))
    return PublisherResult::Fail("cannot create " + Printable(output.TemporaryPath()));
  NolkResult code = NOLKRESULT_OK;
  {
    PackageWriter writer(options, layout, output.TemporaryPath());
    code = writer.Write(patcherSize, archiveSizes);
  }
  if (code == NOLKRESULT_OK && FileHasSize(output.TemporaryPath(), layout.totalSize)) {
    const PublisherResult signedResult = SignStaged(options, layout, output.TemporaryPath());
    if (!signedResult.Ok()) return signedResult;
    if (output.Commit()) return PublisherResult::Success();
  }
  return PublisherResult::Fail("cannot write the standalone patch " + Printable(options.outputPath) +
                               " (error " + std::to_string(code) + ")");
}

}  // namespace

PublisherResult BuildPackage(const PackageOptions& options) {
  if (options.outputPath.empty()) return PublisherResult::Refuse("no output path given");
  PublisherResult result = ValidatePackageOptions(options);
  std::uint64_t patcherSize = 0;
  std::vector<std::uint64_t> archiveSizes;
  if (result.Ok()) result = CheckInputFiles(options, patcherSize, archiveSizes);
  if (!result.Ok()) return result;
  const PackageLayout layout =
      PlanPackageLayout(patcherSize, archiveSizes, options.builds.size(),
                        WantsSignatureRoom(options) ? NolkSign::kPackageSignatureBlockSize : 0);
  result = CheckPackageSize(layout);
  return result.Ok() ? WriteStaged(options, layout, patcherSize, archiveSizes) : result;
}

bool BuildHashOfFile(const std::wstring& path, std::string& hash) {
  return NolkUtil::Md5OfFile(path, hash);
}

}  // namespace KorvelTools
