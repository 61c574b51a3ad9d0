// Segment checksum throughput: SegmentChecksum over every 4 MiB segment of a
// 1 GiB file (open, read into memory, CRC, as a scan does) beside coreutils
// cksum on the same file in the same run. Both compute the same CRC core
// (polynomial 0x04C11DB7, most significant bit first); cksum then adds the
// length and complements, which this program redoes to check that the two
// agree. Prints MB/s of both (best of five, file in the page cache), their
// ratio (goal: ours at least 0.8 of cksum), and the in-memory rates of the
// two CRC implementations.
//
// The per-segment " Checksum ..." lines are dropped at the platform layer
// during the timed runs (they are still formatted), to keep the report
// readable. The file is made under /tmp and removed at the end.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "KernelStandard/platform/FaultInjection.h"
#include "KernelStandard/platform/Platform.h"
#include "bench/BenchSupport.h"
#include "repair/SegmentCrc.h"
#include "repair/SegmentFile.h"
#include "repair/SegmentKey.h"
#include "stream/NolkDataBufferFile.h"

namespace {

constexpr std::uint64_t kFileSize = std::uint64_t{1} << 30;
constexpr int kRuns = 5;

class ScratchFile {
 public:
  ScratchFile() {
    char pattern[] = "/tmp/korvel-bench-crc-XXXXXX";
    if (mkdtemp(pattern) != nullptr) m_folder = pattern;
  }
  ~ScratchFile() {
    std::error_code ignored;
    if (!m_folder.empty()) std::filesystem::remove_all(m_folder, ignored);
  }
  bool Valid() const { return !m_folder.empty(); }
  std::filesystem::path Path() const { return m_folder / "segments.bin"; }

 private:
  std::filesystem::path m_folder;
};

void WriteRandomFile(const std::filesystem::path& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<std::uint64_t> chunk((std::size_t{64} << 20) / sizeof(std::uint64_t));
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  for (std::uint64_t written = 0; written < kFileSize; written += chunk.size() * sizeof(std::uint64_t)) {
    for (auto& word : chunk) {
      state ^= state << 13, state ^= state >> 7, state ^= state << 17;
      word = state;
    }
    out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(chunk.size() * 8));
  }
}

// Seconds for SegmentChecksum over every segment; the checksums are summed
// so that the work cannot be dropped.
double TimeOurs(const std::wstring& path, std::uint64_t& sum) {
  OS::ScopedFaults quiet;
  OS::FaultRule dropOutput;
  dropOutput.operation = "WriteStdout";
  quiet.Add(dropOutput);
  const auto start = std::chrono::steady_clock::now();
  sum = 0;
  for (std::uint64_t index = 0; index < NolkUtil::SegmentCount(kFileSize); ++index) {
    sum += NolkUtil::SegmentChecksum(NolkUtil::MakeSegmentKey(path, static_cast<std::int64_t>(index)));
  }
  return BenchSupport::SecondsSince(start);
}

// Runs cksum and returns its seconds; `output` receives what it printed.
double TimeCksum(const std::string& path, std::string& output) {
  OS::Platform& platform = OS::Current();
  const auto start = std::chrono::steady_clock::now();
  OS::SpawnedProcess child;
  output.clear();
  if (!platform.SpawnWithPipe({"cksum", path}, child)) return -1;
  char buffer[256];
  for (long count; (count = platform.ReadPipe(child.outputFd, buffer, sizeof buffer)) > 0;)
    output.append(buffer, count);
  platform.ClosePipe(child.outputFd);
  int exitCode = -1;
  if (!platform.WaitProcess(child.pid, -1, exitCode) || exitCode != 0) return -1;
  return BenchSupport::SecondsSince(start);
}

// cksum's value from our CRC core: the file, then its length in as few
// bytes as it needs (least significant first), then the complement.
std::uint32_t CksumFromOurCore(const std::wstring& path) {
  NolkDataBufferFile file(path, NolkDataBufferFile::ReadOnly);
  std::vector<std::uint8_t> block(NolkUtil::kSegmentSize);
  std::uint32_t crc = 0;
  for (std::uint64_t left = file.GetSize(); left > 0;) {
    const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, block.size()));
    if (file.ReadData(block.data(), count) != NOLKRESULT_OK) return 0;
    crc = NolkUtil::SegmentCrc(block.data(), count, crc);
    left -= count;
  }
  for (std::uint64_t length = file.GetSize(); length != 0; length >>= 8) {
    const auto byte = static_cast<std::uint8_t>(length);
    crc = NolkUtil::SegmentCrc(&byte, 1, crc);
  }
  return ~crc;
}

// Keeps the in-memory checksums alive.
volatile std::uint32_t g_sink = 0;

double InMemoryRate(std::uint32_t (*crc)(const void*, std::size_t, std::uint32_t)) {
  const std::vector<std::uint8_t> data(std::size_t{256} << 20, 0x5A);
  double best = 1e9;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = std::chrono::steady_clock::now();
    g_sink = crc(data.data(), data.size(), g_sink);
    best = std::min(best, BenchSupport::SecondsSince(start));
  }
  return static_cast<double>(data.size()) / best / 1e6;
}

}  // namespace

int main() {
  ScratchFile scratch;
  if (!scratch.Valid()) return 1;
  WriteRandomFile(scratch.Path());
  const std::wstring widePath = scratch.Path().wstring();
  const std::string nativePath = scratch.Path().string();

  std::uint64_t sum = 0;
  std::string cksumOutput;
  TimeOurs(widePath, sum);  // brings the file into the page cache
  double ours = 1e9;
  double reference = 1e9;
  for (int run = 0; run < kRuns; ++run) {
    ours = std::min(ours, TimeOurs(widePath, sum));
    const double seconds = TimeCksum(nativePath, cksumOutput);
    if (seconds < 0) {
      std::printf("cksum failed\n");
      return 1;
    }
    reference = std::min(reference, seconds);
  }
  const unsigned long cksumValue = std::strtoul(cksumOutput.c_str(), nullptr, 10);
  const std::uint32_t ourValue = CksumFromOurCore(widePath);
  if (ourValue != cksumValue) {
    std::printf("CRC mismatch: ours %u, cksum %lu\n", ourValue, cksumValue);
    return 1;
  }

  const double megabytes = static_cast<double>(kFileSize) / 1e6;
  std::printf("Segment checksum of a %llu MiB file, %llu segments (best of %d runs, cached)\n",
              static_cast<unsigned long long>(kFileSize >> 20),
              static_cast<unsigned long long>(NolkUtil::SegmentCount(kFileSize)), kRuns);
  std::printf("  ours (SegmentChecksum)  %8.1f MB/s\n", megabytes / ours);
  std::printf("  cksum                   %8.1f MB/s\n", megabytes / reference);
  std::printf("  ratio ours/cksum  %.3f (goal >= 0.8); CRC agrees with cksum (%u)\n", reference / ours,
              ourValue);
  std::printf("  in memory: folding %s%.1f MB/s, table %.1f MB/s\n",
              NolkUtil::SegmentCrcFoldingAvailable() ? "" : "(not available) ",
              NolkUtil::SegmentCrcFoldingAvailable() ? InMemoryRate(NolkUtil::SegmentCrcByFolding) : 0.0,
              InMemoryRate(NolkUtil::SegmentCrcByTable));
  return 0;
}
