#include "patch/PatchArchive.h"

#include <memory>
#include <new>
#include <vector>

#include "KernelStandard/FileUtil.h"
#include "KernelStandard/Log.h"
#include "KernelStandard/PathUtil.h"
#include "KernelStandard/TextConvert.h"
#include "patch/EnginePaths.h"
#include "patch/PatchEngineCallbacks.h"
#include "patch/UnpackedFile.h"
#include "stream/Compression.h"
#include "stream/NolkDataBufferFile.h"
#include "stream/NolkDataBufferMemory.h"

namespace NolkPatch {
namespace {

void LogUnsafeName(const std::wstring& name) {
  LogPrint("UnpackPatchArchive> refusing unsafe entry name: %s", NolkUtil::ToNarrow(name).c_str());
}

// Unpacks one archive entry by entry; stops at the first failure.
class ArchiveUnpacker {
 public:
  ArchiveUnpacker(const std::wstring& archivePath, const std::wstring& destinationFolder)
      : m_archive(archivePath, NolkDataBufferFile::ReadOnly), m_destination(destinationFolder) {}

  // A Cancel stops the unpacking before the next entry (and, inside a
  // file, before its next block, see UnpackedFile::WriteData).
  bool Run() {
    if (!m_archive.IsOpen() || !FormatVersionIsKnown()) return false;
    while (m_archive.GetPosition() < m_archive.GetSize()) {
      if (EngineCancelRequested()) {
        LogPrint("UnpackPatchArchive> stopped: the run was cancelled");
        return false;
      }
      if (!UnpackEntry()) return false;
    }
    return true;
  }

 private:
  bool FormatVersionIsKnown() {
    std::uint8_t bytes[4] = {};
    if (m_archive.SetPosition(0) != NOLKRESULT_OK) return false;
    if (m_archive.ReadData(bytes, sizeof bytes) != NOLKRESULT_OK) return false;
    const std::uint32_t version = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                                  std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
    return version == kPatchArchiveFormatVersion;
  }

  bool UnpackEntry() {
    std::wstring name;
    if (!ReadEntryName(name)) return false;
    const std::wstring target = NolkUtil::NormalizeSeparators(NolkUtil::JoinPath(m_destination, name));
    if (IsFolderEntryName(name)) {
      NolkUtil::MakeDirectory(target);  // an existing folder is fine; a real failure shows at its files
      return true;
    }
    return UnpackFile(target);
  }

  // The name block is expanded into a block sized for the longest name
  // allowed, so a hostile block cannot make the unpacker hold more.
  bool ReadEntryName(std::wstring& name) {
    std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[kMaxNameBlockSize]);
    if (block == nullptr) return false;
    NolkDataBufferMemoryStatic buffer(block.get(), kMaxNameBlockSize);
    const NolkResult result = NolkUtil::DecompressData(buffer, m_archive);
    const auto produced = static_cast<std::size_t>(buffer.GetPosition());
    const bool overflowed = result == NOLKRESULT_NO_ROOM && produced == kMaxNameBlockSize;
    if (result != NOLKRESULT_OK && !overflowed) return false;
    const NameBlockStatus status = DecodeNameBlock(block.get(), produced, name);
    if (status == NameBlockStatus::NAME_NO_COUNT) return false;
    if (overflowed || status != NameBlockStatus::NAME_OK || !IsSafeEntryName(name)) {
      LogUnsafeName(name);
      return false;
    }
    return true;
  }

  // Written unforced: the patch folder is rebuilt from the archive after a
  // crash (UnpackedFile.h).
  bool UnpackFile(const std::wstring& target) {
    UnpackedFile file(target);
    if (!file.IsOpen()) {
      const std::wstring reason = SystemReason();
      PostEngineMessage(LEVEL_ERROR, L"Could not unpack the file " + DisplayPath(target) + reason);
      return false;
    }
    return NolkUtil::DecompressData(file, m_archive) == NOLKRESULT_OK;
  }

  NolkDataBufferFile m_archive;
  std::wstring m_destination;
};

NolkResult WriteNameBlock(NolkDataBuffer& buffer, const std::wstring& name) {
  std::u16string units;
  if (!EncodeUtf16(name, units) || units.size() > kMaxEntryNameUnits || !IsSafeEntryName(name))
    return NOLKRESULT_BAD_ARGUMENT;
  std::vector<std::uint8_t> block = EncodeNameBlock(units);
  NolkDataBufferMemoryStatic source(block.data(), static_cast<std::uint32_t>(block.size()));
  return NolkUtil::CompressData(buffer, source);
}

}  // namespace

bool UnpackPatchArchive(const std::wstring& archivePath, const std::wstring& destinationFolder) {
  ArchiveUnpacker unpacker(archivePath, destinationFolder);
  return unpacker.Run();
}

NolkResult WriteArchiveHeader(NolkDataBuffer& buffer) {
  const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(kPatchArchiveFormatVersion), 0, 0, 0};
  static_assert(kPatchArchiveFormatVersion < 256);
  return buffer.WriteData(bytes, sizeof bytes);
}

NolkResult WriteFolderEntry(NolkDataBuffer& buffer, const std::wstring& name) {
  if (!IsFolderEntryName(name)) return NOLKRESULT_BAD_ARGUMENT;
  return WriteNameBlock(buffer, name);
}

NolkResult WriteFileEntry(NolkDataBuffer& buffer, const std::wstring& name, NolkDataBuffer& contentSource) {
  if (IsFolderEntryName(name)) return NOLKRESULT_BAD_ARGUMENT;
  const NolkResult result = WriteNameBlock(buffer, name);
  return result != NOLKRESULT_OK ? result : NolkUtil::CompressData(buffer, contentSource);
}

}  // namespace NolkPatch
