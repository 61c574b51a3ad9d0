// libFuzzer target: the input is taken as a summary stream, read once from
// memory (as from the repair server's connection) and once as the cache file
// "repair.cks". Whatever the bytes, loading must not crash or allocate for
// counts the input cannot back, must give the same result and entries from
// both sources, and what loads must save and load again unchanged. Every
// loaded name also goes through the key and name checks, and the input is
// read as a series of counted wire names.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "repair/FileTreeSummary.h"
#include "repair/SafeRelativeName.h"
#include "repair/SegmentKey.h"
#include "repair/SummaryStreamFormat.h"
#include "stream/NolkDataBufferMemory.h"

namespace {

// Every entry takes at least a name count, a checksum and a time.
constexpr std::size_t kSmallestEntry = 16;
constexpr std::size_t kHeader = 8;

std::filesystem::path CachePath() {
  static const std::filesystem::path path = [] {
    char pattern[] = "/tmp/fuzz_repair_summary_XXXXXX";
    if (!mkdtemp(pattern)) abort();
    return std::filesystem::path(pattern) / "repair.cks";
  }();
  return path;
}

std::string Saved(const NolkPatch::FileTreeSummary& summary) {
  NolkDataBufferMemoryDynamic buffer;
  if (summary.Save(buffer) != NOLKRESULT_OK) abort();
  return std::string(buffer.Bytes().begin(), buffer.Bytes().end());
}

// A short file read is 2 where a short memory read is 8.
NolkResult AsFileResult(NolkResult memoryResult) {
  return memoryResult == NOLKRESULT_END_OF_DATA ? NOLKRESULT_FILE_ERROR : memoryResult;
}

void CheckNames(const NolkPatch::FileTreeSummary& summary) {
  for (const auto& [key, entry] : summary.Entries()) {
    if (entry.name != key || entry.seen) abort();
    const NolkUtil::SegmentKeyParts parts = NolkUtil::SplitSegmentKey(key);
    if (NolkUtil::IsSafeSegmentKey(key) && (!parts.wellFormed || !NolkUtil::IsSafeRelativeName(parts.path)))
      abort();
    std::uint64_t offset = 0;
    if (parts.wellFormed && !NolkUtil::SegmentOffset(parts.index, offset)) abort();
  }
}

void ReadCountedNames(const std::uint8_t* data, std::size_t size) {
  NolkDataBufferMemoryStatic source(const_cast<std::uint8_t*>(data), static_cast<std::uint32_t>(size));
  std::wstring name;
  while (NolkUtil::ReadCountedName(source, name) == NOLKRESULT_OK) {
    if (name.size() > NolkUtil::kMaxNameUnits) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  NolkDataBufferMemoryStatic memory(const_cast<std::uint8_t*>(data), static_cast<std::uint32_t>(size));
  NolkPatch::FileTreeSummary fromMemory;
  const NolkResult memoryResult = fromMemory.Load(memory);
  if (memoryResult != NOLKRESULT_OK && memoryResult != NOLKRESULT_END_OF_DATA &&
      memoryResult != NOLKRESULT_WRONG_FORMAT) {
    abort();
  }
  if (size >= kHeader && fromMemory.Count() > (size - kHeader) / kSmallestEntry) abort();

  std::ofstream(CachePath(), std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  NolkPatch::FileTreeSummary fromFile;
  if (fromFile.LoadFromFile(CachePath().wstring()) != AsFileResult(memoryResult)) abort();
  const std::string saved = Saved(fromMemory);
  if (Saved(fromFile) != saved) abort();

  NolkDataBufferMemoryStatic again(const_cast<char*>(saved.data()), static_cast<std::uint32_t>(saved.size()));
  NolkPatch::FileTreeSummary reloaded;
  if (reloaded.Load(again) != NOLKRESULT_OK || again.GetPosition() != saved.size()) abort();
  if (Saved(reloaded) != saved) abort();

  CheckNames(fromMemory);
  ReadCountedNames(data, size);
  return 0;
}
