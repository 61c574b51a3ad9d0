// Decompressing and writing the segments held by the transfer slots, each
// on a short-lived thread of its own, and handing the slots back.
#include <cstring>

#include "KernelStandard/FileUtil.h"
#include "KernelStandard/Log.h"
#include "KernelStandard/PathUtil.h"
#include "KernelStandard/TextConvert.h"
#include "KernelStandard/platform/Platform.h"
#include "repair/NolkAgentClientTask.h"
#include "repair/SegmentKey.h"
#include "repair/SummaryStreamFormat.h"
#include "stream/Compression.h"
#include "stream/DataCopy.h"
#include "stream/NolkDataBufferFile.h"

namespace NolkPatch {
namespace {

constexpr std::uint32_t kPollMs = 10;

void WaitWhileSet(const std::atomic<bool>& flag) {
  while (flag.load()) OS::Current().Sleep(kPollMs);
}

// A symbolic link planted in the installation must not carry a write
// outside it: every link on the way from the installation folder to the
// file, the file's own entry included, is removed (the link, never what it
// names), so that the real folders and the file are made in its place.
void RemovePlantedLinks(const std::wstring& rootFolder, const std::wstring& relativePath) {
  const std::wstring path = NolkUtil::NormalizeSeparators(relativePath);
  for (std::size_t end = path.find(L'\\');; end = path.find(L'\\', end + 1)) {
    const std::wstring entry = NolkUtil::JoinPath(rootFolder, path.substr(0, end));
    if (OS::Current().IsSymbolicLink(entry)) {
      LogPrintTo(LOG_STDOUT, "   warning: removing link %s\n", NolkUtil::ToNarrow(entry).c_str());
      OS::Current().DeleteFile(entry);
    }
    if (end == std::wstring::npos) break;
  }
}

// The plain length a compressed block stream claims, added up over its
// block headers; false when the headers do not fit the bytes at hand.
bool ClaimedPlainLength(const std::vector<std::uint8_t>& stream, std::uint64_t& plainLength) {
  plainLength = 0;
  if (stream.size() < 4) return false;
  const std::uint32_t blocks = NolkUtil::LoadLe32(stream.data());
  std::uint64_t at = 4;
  for (std::uint32_t block = 0; block < blocks; ++block) {
    if (stream.size() - at < 8) return false;
    const std::uint32_t compressedLength = NolkUtil::LoadLe32(stream.data() + at);
    plainLength += NolkUtil::LoadLe32(stream.data() + at + 4);
    at += 8 + std::uint64_t{compressedLength};
    if (at > stream.size()) return false;
  }
  return true;
}

std::string Narrow(const std::wstring& path) {
  return NolkUtil::ToNarrow(path);
}

}  // namespace

void NolkAgentClientTask::FreeSlot(TransferSlot& slot) {
  slot.plain.SetSize(0);
  slot.compressedData.SetSize(0);
  slot.owner = nullptr;
  slot.writeBegun = false;
}

// A stream that claims more than one segment is refused before anything is
// allocated for its blocks; so is one whose headers do not match its bytes.
bool NolkAgentClientTask::ThreadedDecompress(TransferSlot& slot) {
  slot.plain.SetSize(0);
  slot.plain.SetPosition(0);
  std::uint64_t claimed = 0;
  NolkResult result = NOLKRESULT_WRONG_FORMAT;
  if (ClaimedPlainLength(slot.compressedData.Bytes(), claimed) && claimed <= NolkUtil::kSegmentSize) {
    result = NolkUtil::DecompressData(slot.plain, slot.compressedData);
    if (result == NOLKRESULT_OK && slot.plain.GetSize() > NolkUtil::kSegmentSize) result = NOLKRESULT_NO_ROOM;
  }
  slot.compressedData.SetSize(0);
  slot.plain.SetPosition(0);
  if (result != NOLKRESULT_OK) {
    LogPrintTo(LOG_STDOUT, "NolkAgentClientTask::ThreadedDecompress> error %d\n", result);
    return false;
  }
  return true;
}

bool NolkAgentClientTask::WriteFileBegin(TransferSlot& slot) {
  if (slot.owner == nullptr || slot.writeBegun) return true;
  if (slot.writing) {
    LogPrintTo(LOG_STDOUT, "NolkAgentClientTask::WriteFileBegin> called while already busy\n");
    return false;
  }
  WaitWhileSet(slot.decompressing);
  if (!slot.result) {
    FreeSlot(slot);
    return false;
  }
  slot.writeBegun = true;
  slot.writing = true;
  const auto entry = [](void* argument) {
    auto* transfer = static_cast<TransferSlot*>(argument);
    transfer->result = transfer->owner->WriteSegment(*transfer);
    transfer->writing = false;  // the last touch of the slot
  };
  if (!OS::Current().StartThread(entry, &slot, 0)) {
    LogPrintTo(LOG_STDOUT, "NolkAgentClientTask::WriteFileBegin> unable to start a writer thread\n");
    slot.result = false;
    slot.writing = false;
  }
  return true;
}

bool NolkAgentClientTask::WriteFileEnd(TransferSlot& slot) {
  if (slot.owner == nullptr) return true;
  if (!slot.writeBegun && !WriteFileBegin(slot)) return false;
  WaitWhileSet(slot.writing);
  const bool written = slot.result;
  slot.plain.SetSize(0);
  FreeSlot(slot);
  return written;
}

bool NolkAgentClientTask::WriteSegment(TransferSlot& slot) {
  if (slot.skipWrite) return true;
  const NolkUtil::SegmentKeyParts parts = NolkUtil::SplitSegmentKey(slot.name);
  const std::wstring fullPath = NolkUtil::JoinPath(m_rootFolder, parts.path);
  RemovePlantedLinks(m_rootFolder, parts.path);
  const std::wstring parent = NolkUtil::NormalizeSeparators(fullPath);
  const std::size_t lastSeparator = parent.find_last_of(L'\\');
  if (lastSeparator != std::wstring::npos) NolkUtil::MakeDirectory(parent.substr(0, lastSeparator));
  NolkUtil::ClearReadOnly(fullPath);
  if (slot.checksum != 0) {
    if (!WriteReplacement(slot, fullPath, parts.index)) return false;
    if (!m_summary.RegisterSegment(NolkUtil::JoinPath(m_rootFolder, slot.name), slot.name, slot.checksum)) {
      LogPrintTo(LOG_STDOUT, "   error: failed to register file %s\n", Narrow(fullPath).c_str());
      return false;
    }
    return true;
  }
  if (!RemoveMissingSegment(slot, fullPath, parts.index)) return false;
  m_summary.RemoveSegment(slot.name);
  return true;
}

// Writes the segment at its offset (a shorter file is first extended with
// zeros); a short last segment cuts the file after it and drops the
// summary's entries for the segments behind it.
bool NolkAgentClientTask::WriteReplacement(TransferSlot& slot, const std::wstring& fullPath,
                                           std::int64_t index) {
  NolkDataBufferFile file(fullPath, NolkDataBufferFile::WriteUpdate);
  if (!file.IsOpen()) {
    LogPrintTo(LOG_STDOUT, "   warning: failed to open path %s\n", Narrow(fullPath).c_str());
    return false;
  }
  std::uint64_t offset = 0;
  NolkUtil::SegmentOffset(index, offset);
  const std::uint64_t end = offset + NolkUtil::kSegmentSize;
  if (file.GetSize() < offset && file.SetSize(offset) != NOLKRESULT_OK) {
    LogPrintTo(LOG_STDOUT, "   error: failed to set file position for %s\n", Narrow(fullPath).c_str());
    return false;
  }
  if (file.SetPosition(offset) != NOLKRESULT_OK) {
    LogPrintTo(LOG_STDOUT, "   error: failed to set file position for %s\n", Narrow(fullPath).c_str());
    return false;
  }
  slot.plain.SetPosition(0);
  const NolkResult copied = CopyRest(file, slot.plain);
  if (copied != NOLKRESULT_OK) {
    LogPrintTo(LOG_STDOUT, "  error %d while downloading file %s\n", copied, Narrow(fullPath).c_str());
    return false;
  }
  const std::uint64_t position = file.GetPosition();
  if (position < end && file.GetSize() > position) {
    if (file.SetSize(position) != NOLKRESULT_OK) {
      LogPrintTo(LOG_STDOUT, "   error: failed to truncate file %s\n", Narrow(fullPath).c_str());
      return false;
    }
    m_summary.RemoveSegmentsAfter(slot.name);
  }
  file.Flush();
  return true;
}

// The server has no such segment: segment 0 means the file goes; a later
// one means the file ends before it.
bool NolkAgentClientTask::RemoveMissingSegment(TransferSlot& slot, const std::wstring& fullPath,
                                               std::int64_t index) {
  if (!NolkUtil::FileExists(fullPath)) return true;
  if (index == 0) {
    NolkUtil::DeleteFile(fullPath);
    m_summary.RemoveSegmentsAfter(slot.name);
    return true;
  }
  NolkDataBufferFile file(fullPath, NolkDataBufferFile::WriteUpdate);
  if (!file.IsOpen()) return true;
  std::uint64_t cut = 0;
  NolkUtil::SegmentOffset(index, cut);
  if (file.GetSize() > cut && file.SetSize(cut) != NOLKRESULT_OK) {
    LogPrintTo(LOG_STDOUT, "   error: failed to truncate file %s\n", Narrow(fullPath).c_str());
    return false;
  }
  m_summary.RemoveSegmentsAfter(slot.name);
  file.Flush();
  return true;
}

}  // namespace NolkPatch
