#include "patch/PatchPackage.h"

#include <algorithm>
#include <vector>

#include "KernelStandard/platform/Platform.h"
#include "patch/TemporaryFolders.h"
#include "patch/signing/PackageSignature.h"

namespace NolkPatch {
namespace {

std::optional<PackageHeader> ReadHeaderAt(NolkDataBufferFile& file, std::uint64_t position) {
  PackageHeaderBytes bytes{};
  if (file.SetPosition(position) != NOLKRESULT_OK) return std::nullopt;
  if (file.ReadData(bytes.data(), kPackageHeaderSize) != NOLKRESULT_OK) return std::nullopt;
  return DecodePackageHeader(bytes);
}

// Looks for the magic at offset 0, 4,096, 8,192, ... until a header can no
// longer be read in full. Stores the offset of the header found.
std::optional<PackageHeader> ScanForHeader(NolkDataBufferFile& file, std::uint64_t& position) {
  for (position = 0;; position += kPackageAlignment) {
    std::optional<PackageHeader> header = ReadHeaderAt(file, position);
    if (!header.has_value()) return std::nullopt;
    if (HasPackageMagic(*header)) return header;
  }
}

// Copies `count` bytes from the source's position into the stream, in
// passes of at most 128 KiB; a short write is a failed file operation.
NolkResult CopyToStream(NolkDataBuffer& source, std::FILE* output, std::uint64_t count) {
  constexpr std::uint64_t kPassBytes = 128 * 1024;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(count, kPassBytes)));
  while (count > 0) {
    const auto length = static_cast<std::uint32_t>(std::min(count, kPassBytes));
    const NolkResult read = source.ReadData(buffer.data(), length);
    if (read != NOLKRESULT_OK) return read;
    if (OS::Current().WriteStream(output, buffer.data(), length) != length) return NOLKRESULT_FILE_ERROR;
    count -= length;
  }
  return NOLKRESULT_OK;
}

// The header's size field is 32 bits wide: a file of 4 GiB or more never
// matches it.
bool LengthMatchesHeader(std::uint64_t length, const PackageHeader& header) {
  return (length >> 32) == 0 && static_cast<std::uint32_t>(length) == header.fileSize;
}

}  // namespace

PatchPackage& PatchPackage::Instance() {
  static PatchPackage instance;
  return instance;
}

NolkResult PatchPackage::Open(const std::wstring& path) {
  return Open(path, NolkSign::BuiltInPublisherKeys());
}

NolkResult PatchPackage::Open(const std::wstring& path, const NolkSign::PublisherKeySet& keys) {
  std::lock_guard lock(m_mutex);
  CloseLocked();
  m_signatureProblem.clear();
  auto file = std::make_unique<NolkDataBufferFile>(path, NolkDataBufferFile::ReadOnly);
  if (!file->IsOpen()) return NOLKRESULT_FILE_ERROR;
  std::uint64_t position = 0;
  std::optional<PackageHeader> header = ScanForHeader(*file, position);
  if (!header.has_value()) return NOLKRESULT_NOT_SUPPORTED;
  if (!LengthMatchesHeader(file->GetSize(), *header)) return NOLKRESULT_FILE_ERROR;
  if (!keys.Empty()) {
    const NolkSign::Verdict verdict = NolkSign::VerifyPackageSignature(*file, position, keys);
    if (!verdict.trusted) {
      m_signatureProblem = verdict.reason;
      return NOLKRESULT_REFUSED;
    }
  }
  ForceTerminator(header->build);
  m_file = std::move(file);
  m_header = header;
  m_headerPosition = position;
  return NOLKRESULT_OK;
}

void PatchPackage::Close() {
  std::lock_guard lock(m_mutex);
  CloseLocked();
}

void PatchPackage::CloseLocked() {
  m_file.reset();
  m_header.reset();
  m_headerPosition = kNoHeader;
}

bool PatchPackage::IsOpen() const {
  std::lock_guard lock(m_mutex);
  return m_file != nullptr;
}

std::uint64_t PatchPackage::GetHeaderPosition() const {
  std::lock_guard lock(m_mutex);
  return m_headerPosition;
}

std::string PatchPackage::SignatureProblem() const {
  std::lock_guard lock(m_mutex);
  return m_signatureProblem;
}

std::string PatchPackage::GetBuild() const {
  std::lock_guard lock(m_mutex);
  return m_header.has_value() ? TextFieldValue(m_header->build) : std::string();
}

std::string PatchPackage::FindVersionForBuildHash(const std::string& hash) {
  std::lock_guard lock(m_mutex);
  BuildHashEntry entry;
  if (FindBuildHashEntry(hash, entry) != NOLKRESULT_OK) return std::string();
  return TextFieldValue(entry.version);
}

std::string PatchPackage::FindTargetVersion(const std::string& sourceVersion) {
  std::lock_guard lock(m_mutex);
  PatchEntry entry;
  if (FindPatchEntry(sourceVersion, entry) != NOLKRESULT_OK) return std::string();
  return TextFieldValue(entry.targetVersion);
}

NolkResult PatchPackage::ExtractPatch(const std::string& sourceVersion, const std::wstring& outputPath) {
  std::lock_guard lock(m_mutex);
  if (m_file == nullptr) return NOLKRESULT_NOT_OPEN;
  PatchEntry entry;
  const NolkResult found = FindPatchEntry(sourceVersion, entry);
  if (found != NOLKRESULT_OK) return found;
  if (!RangeInFile(entry.dataOffset, entry.dataLength)) return NOLKRESULT_END_OF_DATA;
  return CopyArchive(entry, outputPath);
}

// The archive goes to a temporary folder: it is created afresh and never
// written through a link planted at its name (TemporaryFolders.h). A
// partial copy is removed, so no damaged archive is left behind.
NolkResult PatchPackage::CopyArchive(const PatchEntry& entry, const std::wstring& outputPath) {
  std::FILE* output = CreateTemporaryFile(outputPath);
  if (output == nullptr) return PACKAGERESULT_CANNOT_CREATE_OUTPUT;
  NolkResult result = m_file->SetPosition(entry.dataOffset);
  if (result == NOLKRESULT_OK) result = CopyToStream(*m_file, output, entry.dataLength);
  if (result == NOLKRESULT_OK && !OS::Current().FlushStream(output, true)) result = NOLKRESULT_FILE_ERROR;
  OS::Current().CloseStream(output);
  if (result != NOLKRESULT_OK) RemoveTemporaryFile(outputPath);
  return result;
}

NolkResult PatchPackage::FindBuildHashEntry(const std::string& hash, BuildHashEntry& found) {
  if (!m_header.has_value()) return NOLKRESULT_NOT_OPEN;
  return ScanTable(m_header->buildHashTableOffset, m_header->buildHashCount, kBuildHashEntrySize,
                   [&](const std::uint8_t* record) {
                     BuildHashEntry entry = DecodeBuildHashEntry(
                         std::span<const std::uint8_t, kBuildHashEntrySize>(record, kBuildHashEntrySize));
                     ForceTerminator(entry.hash);
                     ForceTerminator(entry.version);
                     if (TextFieldValue(entry.hash) != hash) return false;
                     found = entry;
                     return true;
                   });
}

NolkResult PatchPackage::FindPatchEntry(const std::string& sourceVersion, PatchEntry& found) {
  if (!m_header.has_value()) return NOLKRESULT_NOT_OPEN;
  return ScanTable(
      m_header->patchTableOffset, m_header->patchCount, kPatchEntrySize, [&](const std::uint8_t* record) {
        PatchEntry entry =
            DecodePatchEntry(std::span<const std::uint8_t, kPatchEntrySize>(record, kPatchEntrySize));
        ForceTerminator(entry.sourceVersion);
        ForceTerminator(entry.targetVersion);
        if (TextFieldValue(entry.sourceVersion) != sourceVersion) return false;
        found = entry;
        return true;
      });
}

NolkResult PatchPackage::ScanTable(std::uint64_t tableOffset, std::uint32_t count, std::uint32_t width,
                                   const std::function<bool(const std::uint8_t* record)>& isMatch) {
  if (count == 0) return PACKAGERESULT_NO_RECORD;
  // A table that does not fit in the file is damaged as a whole; this also
  // bounds the number of reads by the file's length.
  if (!RangeInFile(tableOffset, std::uint64_t{count} * width)) return NOLKRESULT_END_OF_DATA;
  std::vector<std::uint8_t> record(width);
  for (std::uint32_t index = 0; index < count; ++index) {
    const NolkResult result = ReadBytesAt(tableOffset + std::uint64_t{index} * width, record.data(), width);
    if (result != NOLKRESULT_OK) return result;
    if (isMatch(record.data())) return NOLKRESULT_OK;
  }
  return PACKAGERESULT_NO_RECORD;
}

bool PatchPackage::RangeInFile(std::uint64_t offset, std::uint64_t length) const {
  const std::uint64_t size = m_file->GetSize();
  return offset <= size && length <= size - offset;
}

NolkResult PatchPackage::ReadBytesAt(std::uint64_t offset, std::uint8_t* bytes, std::uint32_t length) {
  const NolkResult result = m_file->SetPosition(offset);
  return result != NOLKRESULT_OK ? result : m_file->ReadData(bytes, length);
}

}  // namespace NolkPatch
