// Receiving one segment record and the checks a record from the server
// must pass before anything is allocated for it or written.
#include <zlib.h>

#include "KernelStandard/Log.h"
#include "KernelStandard/TextConvert.h"
#include "KernelStandard/platform/Platform.h"
#include "net/NolkDataBufferTCP.h"
#include "repair/NolkAgentClientTask.h"
#include "repair/SafeRelativeName.h"
#include "repair/SegmentKey.h"
#include "repair/SummaryStreamFormat.h"
#include "stream/DataCopy.h"

namespace NolkPatch {
namespace {

// The most a compressed block stream holding one segment can take: the
// block count, one block header and zlib's bound for 4 MiB.
const std::uint32_t kMaxCompressedSegment =
    static_cast<std::uint32_t>(12 + compressBound(static_cast<uLong>(NolkUtil::kSegmentSize)));

// The path with '\' separators, without empty and "." components.
std::wstring CanonicalRelativePath(const std::wstring& path) {
  std::wstring canonical;
  std::wstring component;
  const auto flush = [&] {
    if (!component.empty() && component != L".") {
      if (!canonical.empty()) canonical += L'\\';
      canonical += component;
    }
    component.clear();
  };
  for (const wchar_t c : path) {
    if (c == L'\\' || c == L'/') {
      flush();
    } else {
      component += c;
    }
  }
  flush();
  return canonical;
}

// Installations come from a case-insensitive world, and the platform layer
// finds files without regard to ASCII case, so names are compared that way.
std::wstring AsciiLower(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return text;
}

}  // namespace

bool NolkAgentClientTask::ReceiveFile(TransferSlot& slot) {
  if (slot.owner != nullptr) {
    LogPrintTo(LOG_STDOUT, "NolkAgentClientTask::ReceiveFile> called while already busy\n");
    return false;
  }
  slot.owner = this;
  slot.compressed = false;
  slot.skipWrite = false;
  slot.name.clear();
  slot.checksum = 0;
  slot.result = true;
  std::uint32_t dataLength = 0;
  const NolkResult result = ReadRecordHeader(slot, dataLength);
  if (result != NOLKRESULT_OK) {
    LogPrintTo(LOG_STDOUT, "NolkAgentClientTask::ReceiveFile> error %d\n", result);
    FreeSlot(slot);
    return false;
  }
  if ((slot.checksum == 0 && (slot.compressed || dataLength != 0)) || (slot.compressed && dataLength == 0)) {
    LogPrintTo(LOG_STDOUT, "NolkAgentClientTask::ReceiveFile> mismatched flags from server\n");
    FreeSlot(slot);
    return false;
  }
  if (!AcceptDataLength(slot, dataLength)) {
    FreeSlot(slot);
    return false;
  }
  NolkDataBuffer& destination = slot.compressed ? static_cast<NolkDataBuffer&>(slot.compressedData)
                                                : static_cast<NolkDataBuffer&>(slot.plain);
  destination.SetSize(0);
  destination.SetPosition(0);
  const NolkResult copied = CopyData(destination, *m_connection, dataLength);
  if (copied != NOLKRESULT_OK) {
    LogPrintTo(LOG_STDOUT, "NolkAgentClientTask::ReceiveFile> error %d\n", copied);
    FreeSlot(slot);
    return false;
  }
  slot.plain.SetPosition(0);
  slot.compressedData.SetPosition(0);
  if (slot.compressed) StartDecompression(slot);
  m_received += 1;
  return true;
}

// The fields before the data; the name is checked as soon as it is read.
NolkResult NolkAgentClientTask::ReadRecordHeader(TransferSlot& slot, std::uint32_t& dataLength) {
  std::uint8_t flag = 0;
  NolkResult result = m_connection->ReadData(&flag, 1);
  if (result != NOLKRESULT_OK) return result;
  slot.compressed = flag != 0;
  std::wstring name;
  result = NolkUtil::ReadCountedName(*m_connection, name);
  if (result != NOLKRESULT_OK) return result;
  std::uint32_t checksum = 0;
  result = m_connection->ReadData(&checksum, sizeof checksum);
  if (result != NOLKRESULT_OK) return result;
  slot.checksum = checksum;
  result = m_connection->ReadData(&dataLength, sizeof dataLength);
  if (result != NOLKRESULT_OK) return result;
  return AcceptRecordName(slot, name) ? NOLKRESULT_OK : NOLKRESULT_WRONG_FORMAT;
}

// A name must stay inside the installation folder; it is kept in canonical
// form, so the summary never gets two keys for one segment.
bool NolkAgentClientTask::AcceptRecordName(TransferSlot& slot, const std::wstring& received) {
  if (!NolkUtil::IsSafeSegmentKey(received)) {
    LogPrintTo(LOG_STDOUT, "NolkAgentClientTask::ReceiveFile> refused unsafe name %s\n",
               NolkUtil::ToNarrow(received).c_str());
    return false;
  }
  const NolkUtil::SegmentKeyParts parts = NolkUtil::SplitSegmentKey(received);
  const std::wstring path = CanonicalRelativePath(parts.path);
  if (path.empty()) {
    LogPrintTo(LOG_STDOUT, "NolkAgentClientTask::ReceiveFile> refused unsafe name %s\n",
               NolkUtil::ToNarrow(received).c_str());
    return false;
  }
  slot.name = NolkUtil::MakeSegmentKey(path, parts.index);
  slot.skipWrite = IsNeverWritten(path);
  return true;
}

bool NolkAgentClientTask::AcceptDataLength(const TransferSlot& slot, std::uint32_t dataLength) const {
  const std::uint32_t limit =
      slot.compressed ? kMaxCompressedSegment : static_cast<std::uint32_t>(NolkUtil::kSegmentSize);
  if (dataLength <= limit) return true;
  LogPrintTo(LOG_STDOUT, "NolkAgentClientTask::ReceiveFile> data length %u exceeds one segment\n",
             dataLength);
  return false;
}

bool NolkAgentClientTask::IsNeverWritten(const std::wstring& relativePath) const {
  std::set<std::wstring> lowered;
  for (const std::wstring& pattern : m_relativeExclusions)
    lowered.insert(AsciiLower(CanonicalRelativePath(pattern)));
  lowered.insert(AsciiLower(kSummaryFileName));
  lowered.insert(AsciiLower(kPatchJournalName));
  return FileTreeSummary::IsExcluded(AsciiLower(relativePath), lowered);
}

void NolkAgentClientTask::StartDecompression(TransferSlot& slot) {
  slot.decompressing = true;
  const auto entry = [](void* argument) {
    auto* transfer = static_cast<TransferSlot*>(argument);
    transfer->result = transfer->owner->ThreadedDecompress(*transfer);
    transfer->decompressing = false;  // the last touch of the slot
  };
  if (!OS::Current().StartThread(entry, &slot, 0)) {
    LogPrintTo(LOG_STDOUT, "NolkAgentClientTask::ReceiveFile> unable to start a decompression thread\n");
    slot.result = false;
    slot.decompressing = false;
  }
}

}  // namespace NolkPatch
