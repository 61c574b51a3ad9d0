// NolkAgentClientTask: brings an installation folder in line with the
// repair server's copy. On its own thread it refreshes the folder's
// FileTreeSummary (cached in "repair.cks"), connects to the server, sends
// the summary and receives the segments that differ; each one is written
// into its file at its 4 MiB offset, segments the server lacks are cut off
// or deleted, and the cache is saved every 33 records and at the end.
// Receiving, decompressing and writing overlap through four TransferSlots.
//
// Wire protocol (TCP, unsigned 32-bit little-endian integers):
//   client: 6                      server: its protocol number (must be 6)
//   client: the summary stream     server: N, then N segment records:
//     compressed flag (1 byte), name (32-bit count + UTF-16LE units),
//     checksum (0 = the server has no such segment), data length, data
//     (raw, or one compressed block stream).
//
// Records from the server are checked before anything is allocated or
// written: the name must stay inside the installation folder (no "..",
// absolute path, drive letter, stream colon, control character or NUL);
// raw data may be at most one segment, compressed data at most what one
// segment's block stream can take, and it must decompress to at most one
// segment. A refused record ends the run with result 3 and nothing is
// written for it. Records naming a file the client never writes (the
// uninstaller "unins000.exe", the cache itself, the patch journal) count as
// received and are dropped.
//
// States: 0 configured, 1 started, 2 scanning, 3 connecting, 4 sending the
// summary and waiting for the list, 5 receiving, 6 finished.
//
// Cancel() (or destroying the task) ends a run promptly: the connection is
// closed at once, so a read waiting on a silent server ends too. A server
// that sends nothing for the inactivity limit (2 minutes unless set) ends
// the run with result 3.
//
// Diagnostics go to the standard output.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "KernelStandard/ResultCodes.h"
#include "net/SocketAddress.h"
#include "repair/FileTreeSummary.h"
#include "repair/TransferSlot.h"

class NolkDataBufferTCP;

namespace Vek {
class Thread;
}

namespace NolkPatch {

// The journal a standalone run keeps in the installation folder.
inline constexpr wchar_t kPatchJournalName[] = L"KorvelPatch.journal";

class NolkAgentClientTask {
 public:
  enum State : std::int32_t {
    STATE_CONFIGURED = 0,
    STATE_STARTED = 1,
    STATE_SCANNING = 2,
    STATE_CONNECTING = 3,
    STATE_SENDING_SUMMARY = 4,
    STATE_RECEIVING = 5,
    STATE_FINISHED = 6,
  };
  static constexpr std::uint32_t kProtocolVersion = 6;
  static constexpr int kSlotCount = 4;
  // The cache is saved after every this many records.
  static constexpr int kRecordsBetweenSaves = 33;
  static constexpr std::chrono::milliseconds kDefaultInactivityLimit{120000};

  NolkAgentClientTask();
  // Cancels a running task, closes its connection at once and waits for
  // its thread.
  ~NolkAgentClientTask();
  NolkAgentClientTask(const NolkAgentClientTask&) = delete;
  NolkAgentClientTask& operator=(const NolkAgentClientTask&) = delete;

  // Configuration; each returns 7 while the task is busy. The three
  // setters reset state, done and result.
  NolkResult SetRootFolder(const std::wstring& path);
  NolkResult SetSummaryFile(const std::wstring& path);
  NolkResult SetServerAddress(const SocketAddress& address);
  NolkResult SetExclusions(const std::set<std::wstring>& patterns);
  // The limit for a read or write on the connection during which nothing
  // moves; 0 disables it.
  NolkResult SetInactivityLimit(std::chrono::milliseconds limit);

  // Starts a run on the task's thread; does nothing while busy.
  void Start();
  // Asks a running task to stop and closes its connection at once; the
  // run then ends with result 3 (or the interrupted read's code).
  void Cancel();

  bool IsBusy() const { return m_busy.load(); }
  std::int32_t GetState() const { return m_state.load(); }
  NolkResult GetResult() const { return m_result.load(); }
  std::uint32_t GetReceivedCount() const { return m_received.load(); }
  std::uint32_t GetTotalCount() const { return m_total.load(); }
  bool Succeeded() const;
  // 0 up to state 4, received / total while receiving, 1 when finished.
  float GetProgress() const;

  // The summary the task keeps (for callers that inspect it after a run).
  const FileTreeSummary& Summary() const { return m_summary; }

  // The per-slot steps of the receiving loop.
  bool ReceiveFile(TransferSlot& slot);
  bool ThreadedDecompress(TransferSlot& slot);
  bool WriteFileBegin(TransferSlot& slot);
  bool WriteFileEnd(TransferSlot& slot);
  bool WriteSegment(TransferSlot& slot);

 private:
  static int ThreadEntry(void* self);
  void RunBody();
  bool PrepareSummary();
  NolkResult ConnectAndHandshake();
  NolkResult SendSummaryAndReadTotal();
  // False when a received record could not be decompressed or written.
  bool ReceiveSegments();
  void SaveSummary();

  // Record checks (NolkAgentClientReceive.cpp).
  NolkResult ReadRecordHeader(TransferSlot& slot, std::uint32_t& dataLength);
  bool AcceptRecordName(TransferSlot& slot, const std::wstring& received);
  bool AcceptDataLength(const TransferSlot& slot, std::uint32_t dataLength) const;
  bool IsNeverWritten(const std::wstring& relativePath) const;
  void StartDecompression(TransferSlot& slot);

  // Writing (NolkAgentClientWrite.cpp).
  bool WriteReplacement(TransferSlot& slot, const std::wstring& fullPath, std::int64_t index);
  bool RemoveMissingSegment(TransferSlot& slot, const std::wstring& fullPath, std::int64_t index);
  static void FreeSlot(TransferSlot& slot);

  std::atomic<std::int32_t> m_state{STATE_CONFIGURED};
  std::unique_ptr<Vek::Thread> m_thread;
  std::atomic<bool> m_busy{false};
  std::atomic<bool> m_done{false};
  std::atomic<NolkResult> m_result{NOLKRESULT_OK};
  std::atomic<bool> m_cancel{false};
  std::wstring m_rootFolder;
  std::wstring m_summaryFile;
  SocketAddress m_serverAddress{0xFFFFFFFFu, 0xFFFF};
  std::set<std::wstring> m_exclusions;
  // The patterns of the last scan, relative to the root: what the scan
  // skipped is never written either.
  std::set<std::wstring> m_relativeExclusions;
  std::chrono::milliseconds m_inactivityLimit = kDefaultInactivityLimit;
  FileTreeSummary m_summary;
  std::unique_ptr<NolkDataBufferTCP> m_connection;
  std::atomic<std::uint32_t> m_total{0};
  std::atomic<std::uint32_t> m_received{0};
};

}  // namespace NolkPatch
