// Block compression against raw zlib on the same data in the same run.
//
// Data: a "mixed" block made of the files in /usr/lib/x86_64-linux-gnu
// (libraries, tables, text: typical installation content), and an
// "incompressible" block of pseudo-random bytes. Each is 64 MiB (set
// KORVEL_BENCH_MIB to change that), so each is one compressed block.
//
// What is timed:
//   ours compress    NolkUtil::CompressData from a memory buffer into a
//                    reused dynamic memory buffer
//   zlib compress    compress() into a fresh compressBound() buffer
//   ours decompress  NolkUtil::DecompressData from a memory buffer into a
//                    reused fixed memory buffer of the plain length
//   zlib decompress  uncompress() into a fresh output buffer (what a caller
//                    without a buffer of its own has to do), and, for
//                    reference, into a reused warm buffer
// At the end a table gives MB/s of both and the ratio of our CPU time to
// zlib's (1.00 means no overhead).
//
// For incompressible data zlib stores the bytes, so uncompress is little
// more than one copy; the interface costs two more (the source's bytes into
// the block buffer, the plain block into the destination), which shows up
// there as a ratio near 2. On real content inflating dominates.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "KernelStandard/platform/Platform.h"
#include "stream/Compression.h"
#include "stream/DataCopy.h"
#include "stream/NolkDataBufferFile.h"
#include "stream/NolkDataBufferMemory.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::size_t BlockLength() {
  std::string text;
  std::size_t mebibytes = 64;
  if (OS::Current().GetEnvironment("KORVEL_BENCH_MIB", text)) mebibytes = std::max(1ul, std::stoul(text));
  return mebibytes << 20;
}

// Appends whole files from the folder, in name order, until length bytes
// are gathered; repeats what it has when the folder holds less.
Bytes GatherMixedData(std::size_t length) {
  const std::wstring folder = L"/usr/lib/x86_64-linux-gnu";
  std::vector<OS::DirEntry> entries;
  OS::Current().ListDirectory(folder, entries);
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  NolkDataBufferMemoryDynamic gathered;
  for (const auto& entry : entries) {
    if (entry.isDirectory) continue;
    NolkDataBufferFile file(folder + L"/" + entry.name, NolkDataBufferFile::ReadOnly);
    if (!file.IsOpen()) continue;
    const std::uint64_t want = std::min<std::uint64_t>(file.GetSize(), length - gathered.GetSize());
    if (CopyData(gathered, file, want) != NOLKRESULT_OK) continue;
    if (gathered.GetSize() >= length) break;
  }
  Bytes data = gathered.Bytes();
  if (data.empty()) data.push_back(0);
  const std::size_t have = data.size();
  data.resize(length);
  for (std::size_t i = have; i < length; ++i) data[i] = data[i - have];
  return data;
}

Bytes RandomData(std::size_t length) {
  Bytes data(length);
  std::mt19937_64 random(42);
  for (std::size_t i = 0; i + 8 <= length; i += 8) {
    const std::uint64_t word = random();
    for (int b = 0; b < 8; ++b) data[i + b] = static_cast<std::uint8_t>(word >> (8 * b));
  }
  return data;
}

struct Sample {
  Bytes plain;
  Bytes ours;  // our compressed block stream
  Bytes zlib;  // one raw zlib stream
};

Sample MakeSample(Bytes plain) {
  Sample sample;
  sample.plain = std::move(plain);
  NolkDataBufferMemoryStatic source(sample.plain.data(), static_cast<std::uint32_t>(sample.plain.size()));
  NolkDataBufferMemoryDynamic packed;
  if (NolkUtil::CompressData(packed, source) != NOLKRESULT_OK) std::fprintf(stderr, "CompressData failed\n");
  sample.ours = packed.Bytes();
  uLongf length = compressBound(sample.plain.size());
  sample.zlib.resize(length);
  compress(sample.zlib.data(), &length, sample.plain.data(), sample.plain.size());
  sample.zlib.resize(length);
  return sample;
}

std::unique_ptr<std::uint8_t[]> Uninitialised(std::size_t length) {
  return std::unique_ptr<std::uint8_t[]>(new std::uint8_t[length]);
}

void OursCompress(benchmark::State& state, const Sample* sample) {
  NolkDataBufferMemoryDynamic destination;
  for (auto _ : state) {
    NolkDataBufferMemoryStatic source(const_cast<std::uint8_t*>(sample->plain.data()),
                                      static_cast<std::uint32_t>(sample->plain.size()));
    destination.SetSize(0);
    if (NolkUtil::CompressData(destination, source) != NOLKRESULT_OK) state.SkipWithError("CompressData");
    benchmark::DoNotOptimize(destination.Bytes().data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(sample->plain.size()));
}

void ZlibCompress(benchmark::State& state, const Sample* sample) {
  for (auto _ : state) {
    uLongf length = compressBound(sample->plain.size());
    auto output = Uninitialised(length);
    if (compress(output.get(), &length, sample->plain.data(), sample->plain.size()) != Z_OK) {
      state.SkipWithError("compress");
    }
    benchmark::DoNotOptimize(output.get());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(sample->plain.size()));
}

void OursDecompress(benchmark::State& state, const Sample* sample) {
  Bytes block(sample->plain.size());
  for (auto _ : state) {
    NolkDataBufferMemoryStatic source(const_cast<std::uint8_t*>(sample->ours.data()),
                                      static_cast<std::uint32_t>(sample->ours.size()));
    NolkDataBufferMemoryStatic destination(block.data(), static_cast<std::uint32_t>(block.size()));
    if (NolkUtil::DecompressData(destination, source) != NOLKRESULT_OK) state.SkipWithError("DecompressData");
    benchmark::DoNotOptimize(block.data());
  }
  if (block != sample->plain) state.SkipWithError("round trip differs");
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(sample->plain.size()));
}

void ZlibDecompressFresh(benchmark::State& state, const Sample* sample) {
  for (auto _ : state) {
    uLongf length = sample->plain.size();
    auto output = Uninitialised(length);
    if (uncompress(output.get(), &length, sample->zlib.data(), sample->zlib.size()) != Z_OK) {
      state.SkipWithError("uncompress");
    }
    benchmark::DoNotOptimize(output.get());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(sample->plain.size()));
}

void ZlibDecompressWarm(benchmark::State& state, const Sample* sample) {
  Bytes output(sample->plain.size());
  for (auto _ : state) {
    uLongf length = output.size();
    if (uncompress(output.data(), &length, sample->zlib.data(), sample->zlib.size()) != Z_OK) {
      state.SkipWithError("uncompress");
    }
    benchmark::DoNotOptimize(output.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(sample->plain.size()));
}

// Keeps the console output and remembers CPU seconds per iteration by name.
// CPU time (user and system, so page faults count) rather than wall time,
// because the benchmark usually shares the machine.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.iterations > 0)
        m_seconds[run.run_name.function_name] = run.cpu_accumulated_time / run.iterations;
    }
  }
  double Seconds(const std::string& name) const {
    const auto found = m_seconds.find(name);
    return found == m_seconds.end() ? 0.0 : found->second;
  }

 private:
  std::map<std::string, double> m_seconds;
};

void PrintRatio(const RatioReporter& reporter, const std::string& what, const std::string& ours,
                const std::string& zlib, std::size_t bytes) {
  const double oursSeconds = reporter.Seconds(ours);
  const double zlibSeconds = reporter.Seconds(zlib);
  if (oursSeconds <= 0 || zlibSeconds <= 0) return;
  const double megabytes = static_cast<double>(bytes) / 1e6;
  std::printf("%-44s ours %8.1f MB/s   zlib %8.1f MB/s   ours/zlib time %.3f\n", what.c_str(),
              megabytes / oursSeconds, megabytes / zlibSeconds, oursSeconds / zlibSeconds);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const std::size_t length = BlockLength();
  const std::map<std::string, Sample> samples = {{"mixed", MakeSample(GatherMixedData(length))},
                                                 {"incompressible", MakeSample(RandomData(length))}};
  for (const auto& [name, sample] : samples) {
    std::printf("%s: %zu bytes, ours %zu bytes compressed, zlib %zu bytes\n", name.c_str(),
                sample.plain.size(), sample.ours.size(), sample.zlib.size());
    const Sample* data = &sample;
    benchmark::RegisterBenchmark(("compress/" + name + "/ours").c_str(), OursCompress, data)->Iterations(2);
    benchmark::RegisterBenchmark(("compress/" + name + "/zlib").c_str(), ZlibCompress, data)->Iterations(2);
    benchmark::RegisterBenchmark(("decompress/" + name + "/ours").c_str(), OursDecompress, data)
        ->Iterations(8);
    benchmark::RegisterBenchmark(("decompress/" + name + "/zlib").c_str(), ZlibDecompressFresh, data)
        ->Iterations(8);
    benchmark::RegisterBenchmark(("decompress/" + name + "/zlib-warm").c_str(), ZlibDecompressWarm, data)
        ->Iterations(8);
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n");
  for (const auto& [name, sample] : samples) {
    const std::size_t bytes = sample.plain.size();
    PrintRatio(reporter, "compress " + name, "compress/" + name + "/ours", "compress/" + name + "/zlib",
               bytes);
    PrintRatio(reporter, "decompress " + name, "decompress/" + name + "/ours", "decompress/" + name + "/zlib",
               bytes);
    PrintRatio(reporter, "decompress " + name + " (zlib into warm buffer)", "decompress/" + name + "/ours",
               "decompress/" + name + "/zlib-warm", bytes);
  }
  benchmark::Shutdown();
  return 0;
}
