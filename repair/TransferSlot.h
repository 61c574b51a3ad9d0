// TransferSlot: one of the four places a segment record passes through on
// its way from the connection to the disk. The client task's thread fills a
// free slot with a received record; a short-lived thread decompresses it,
// another writes it. The flags are the only link between those threads:
// each is set before its thread starts and cleared by that thread as its
// very last touch of the slot, and the task's thread polls them.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "stream/NolkDataBufferMemory.h"

namespace NolkPatch {

class NolkAgentClientTask;

struct TransferSlot {
  // The task while the slot holds a record; null while it is free.
  NolkAgentClientTask* owner = nullptr;
  // The record's name key in canonical form (path with '\', '#', index of
  // at least three digits).
  std::wstring name;
  // As sent by the server; 0 means the server has no such segment.
  std::uint32_t checksum = 0;
  bool compressed = false;
  // The name is one the client never writes (the uninstaller, its own
  // cache, the patch journal): the record counts as received and is
  // dropped.
  bool skipWrite = false;
  std::atomic<bool> decompressing{false};
  std::atomic<bool> writing{false};
  bool writeBegun = false;
  // The outcome of the slot's decompression or write.
  std::atomic<bool> result{true};
  NolkDataBufferMemoryDynamic plain;
  NolkDataBufferMemoryDynamic compressedData;
};

}  // namespace NolkPatch
