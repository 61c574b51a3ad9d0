#include "repair/NolkAgentClientTask.h"

#include <array>

#include "KernelStandard/Log.h"
#include "KernelStandard/PathUtil.h"
#include "KernelStandard/VekThread.h"
#include "net/NolkDataBufferTCP.h"
#include "stream/NolkDataBufferFile.h"

namespace NolkPatch {
namespace {

// A root folder must be longer than four characters and neither start nor
// end with a double quote or a character above 127 (the traces of a
// mangled command line).
bool IsSaneRootFolder(const std::wstring& path) {
  if (path.size() <= 4) return false;
  const auto suspicious = [](wchar_t c) { return c == L'"' || static_cast<std::uint32_t>(c) > 127; };
  return !suspicious(path.front()) && !suspicious(path.back());
}

}  // namespace

NolkAgentClientTask::NolkAgentClientTask() : m_connection(std::make_unique<NolkDataBufferTCP>()) {}

NolkAgentClientTask::~NolkAgentClientTask() {
  if (m_thread) {
    Cancel();
    m_thread->Lock();
    m_thread.reset();
  }
  m_connection->Disconnect(true);
}

NolkResult NolkAgentClientTask::SetRootFolder(const std::wstring& path) {
  if (IsBusy()) return NOLKRESULT_NOT_OPEN;
  if (path.empty() || !IsSaneRootFolder(path)) return NOLKRESULT_BAD_ARGUMENT;
  m_rootFolder = path;
  m_state = STATE_CONFIGURED;
  m_done = false;
  m_result = NOLKRESULT_OK;
  return NOLKRESULT_OK;
}

NolkResult NolkAgentClientTask::SetSummaryFile(const std::wstring& path) {
  if (IsBusy()) return NOLKRESULT_NOT_OPEN;
  if (path.empty()) return NOLKRESULT_BAD_ARGUMENT;
  m_summaryFile = path;
  m_state = STATE_CONFIGURED;
  m_done = false;
  m_result = NOLKRESULT_OK;
  return NOLKRESULT_OK;
}

NolkResult NolkAgentClientTask::SetServerAddress(const SocketAddress& address) {
  if (IsBusy()) return NOLKRESULT_NOT_OPEN;
  m_serverAddress = address;
  m_state = STATE_CONFIGURED;
  m_done = false;
  m_result = NOLKRESULT_OK;
  return NOLKRESULT_OK;
}

NolkResult NolkAgentClientTask::SetExclusions(const std::set<std::wstring>& patterns) {
  if (IsBusy()) return NOLKRESULT_NOT_OPEN;
  m_exclusions = patterns;
  return NOLKRESULT_OK;
}

NolkResult NolkAgentClientTask::SetInactivityLimit(std::chrono::milliseconds limit) {
  if (IsBusy()) return NOLKRESULT_NOT_OPEN;
  m_inactivityLimit = limit;
  return NOLKRESULT_OK;
}

void NolkAgentClientTask::Start() {
  if (IsBusy()) return;
  // The thread of an earlier run has returned (busy is clear); it is
  // replaced by a fresh one.
  if (m_thread) {
    m_thread->Lock();
    m_thread.reset();
  }
  m_state = STATE_STARTED;
  m_busy = true;
  m_done = false;
  m_result = NOLKRESULT_OK;
  m_cancel = false;
  m_thread = std::make_unique<Vek::Thread>(&NolkAgentClientTask::ThreadEntry, this, false);
  if (!m_thread->IsValid() || !m_thread->Resume()) {
    LogPrintTo(LOG_STDOUT, "NolkAgentClientTask::Start> unable to start the thread\n");
    m_result = NOLKRESULT_NOT_OPEN;
    m_busy = false;
  }
}

void NolkAgentClientTask::Cancel() {
  m_cancel = true;
  m_connection->Disconnect(true);
}

bool NolkAgentClientTask::Succeeded() const {
  return !IsBusy() && GetState() == STATE_FINISHED && GetResult() == NOLKRESULT_OK;
}

float NolkAgentClientTask::GetProgress() const {
  const std::int32_t state = GetState();
  if (state == STATE_FINISHED) return 1.0f;
  if (state <= STATE_SENDING_SUMMARY) return 0.0f;
  const std::uint32_t total = GetTotalCount();
  const std::uint32_t received = GetReceivedCount();
  if (total == 0) return 0.0f;
  if (received >= total) return 1.0f;
  return static_cast<float>(received) / static_cast<float>(total);
}

int NolkAgentClientTask::ThreadEntry(void* self) {
  auto* task = static_cast<NolkAgentClientTask*>(self);
  task->RunBody();
  task->m_busy = false;
  return 0;
}

void NolkAgentClientTask::RunBody() {
  if (m_rootFolder.empty() || m_summaryFile.empty()) {
    m_result = NOLKRESULT_BAD_ARGUMENT;
    return;
  }
  m_state = STATE_SCANNING;
  if (!PrepareSummary()) return;
  m_state = STATE_CONNECTING;
  NolkResult result = ConnectAndHandshake();
  if (result != NOLKRESULT_OK) {
    m_result = result;
    return;
  }
  m_state = STATE_SENDING_SUMMARY;
  result = SendSummaryAndReadTotal();
  if (result != NOLKRESULT_OK) {
    m_result = result;
    return;
  }
  m_state = STATE_RECEIVING;
  const bool allWritten = ReceiveSegments();
  // A record that was received but could not be decompressed or written
  // fails the run as well, also when it was the last one.
  if (GetReceivedCount() < GetTotalCount() || !allWritten) {
    m_result = NOLKRESULT_CONNECTION_LOST;
    return;
  }
  m_result = NOLKRESULT_OK;
  m_state = STATE_FINISHED;
  m_done = true;
}

// Loads the cache (a missing or foreign file leaves the summary empty),
// rescans the folder without the cache itself and the configured patterns,
// and saves the result. False only when the run was cancelled meanwhile.
bool NolkAgentClientTask::PrepareSummary() {
  m_summary.Clear();
  {
    NolkDataBufferFile cache(m_summaryFile, NolkDataBufferFile::ReadOnly);
    if (cache.IsOpen() && m_summary.Load(cache) != NOLKRESULT_OK) m_summary.Clear();
  }
  m_relativeExclusions.clear();
  const std::wstring cacheName = NolkUtil::RelativePath(m_rootFolder, m_summaryFile);
  if (!cacheName.empty()) m_relativeExclusions.insert(cacheName);
  for (const std::wstring& pattern : m_exclusions) {
    const std::wstring relative = NolkUtil::RelativePath(m_rootFolder, pattern);
    if (!relative.empty()) m_relativeExclusions.insert(relative);
  }
  m_summary.Scan(m_rootFolder, m_relativeExclusions);
  SaveSummary();
  if (m_cancel) {
    m_result = NOLKRESULT_CLOSED;
    return false;
  }
  return true;
}

NolkResult NolkAgentClientTask::ConnectAndHandshake() {
  if (m_connection->IsConnected()) m_connection->Disconnect(true);  // left from an earlier run
  m_connection->SetInactivityTimeout(m_inactivityLimit);
  if (m_cancel) return NOLKRESULT_CLOSED;
  NolkResult result = m_connection->Connect(m_serverAddress);
  if (result != NOLKRESULT_OK) return result;
  if (m_cancel) return NOLKRESULT_CLOSED;
  const std::uint32_t protocol = kProtocolVersion;
  result = m_connection->WriteData(&protocol, sizeof protocol);
  if (result != NOLKRESULT_OK) return result;
  std::uint32_t answer = 0;
  result = m_connection->ReadData(&answer, sizeof answer);
  if (result != NOLKRESULT_OK) return result;
  if (answer != kProtocolVersion) {
    LogPrintTo(LOG_STDOUT, "NolkAgentClientTask> server speaks protocol %u, not %u\n", answer,
               kProtocolVersion);
    return NOLKRESULT_WRONG_FORMAT;
  }
  return NOLKRESULT_OK;
}

NolkResult NolkAgentClientTask::SendSummaryAndReadTotal() {
  NolkResult result = m_summary.Save(*m_connection);
  if (result != NOLKRESULT_OK) return result;
  m_total = 0;
  m_received = 0;
  std::uint32_t total = 0;
  result = m_connection->ReadData(&total, sizeof total);
  if (result != NOLKRESULT_OK) return result;
  m_total = total;
  return NOLKRESULT_OK;
}

// Each pass receives into slot i, finishes the write of slot i + 1 (begun
// two passes earlier, so the slot is free again) and begins the write of
// slot i + 2 (received two passes earlier, so its decompression had that
// time).
bool NolkAgentClientTask::ReceiveSegments() {
  std::array<TransferSlot, kSlotCount> slots;
  bool allWritten = true;
  if (m_connection->IsConnected()) {
    int i = 0;
    int sinceSave = 0;
    while (GetReceivedCount() < GetTotalCount() && !m_cancel) {
      if (!ReceiveFile(slots[i])) break;
      if (sinceSave >= kRecordsBetweenSaves - 1) {
        SaveSummary();
        sinceSave = 0;
      } else {
        ++sinceSave;
      }
      if (!WriteFileEnd(slots[(i + 1) % kSlotCount]) || !WriteFileBegin(slots[(i + 2) % kSlotCount])) {
        allWritten = false;
        break;
      }
      if (!m_connection->IsConnected()) break;
      i = (i + 1) % kSlotCount;
    }
  }
  // Every slot is settled (its threads have ended) before the slots go.
  for (TransferSlot& slot : slots) {
    if (!WriteFileEnd(slot)) allWritten = false;
  }
  SaveSummary();
  return allWritten;
}

void NolkAgentClientTask::SaveSummary() {
  if (m_summary.SaveToFile(m_summaryFile) != NOLKRESULT_OK)
    LogPrintTo(LOG_STDOUT, "NolkAgentClientTask> unable to save the summary file\n");
}

}  // namespace NolkPatch
