// Diff benchmark: our diff format (tools/diff, through the real
// "vpatchl-w32.exe") beside xdelta3, bsdiff and the zstd CLI in patch-from
// mode, on the same old/new pairs in the same run. For each pair it prints
// diff size, creation and apply wall time per tool, and the ratios
// our size / xdelta3 size and our apply time / zstd CLI or xdelta3 apply
// time. The goal is diffs no larger than xdelta3's that apply at least as
// fast as the zstd CLI.
//
// Run: bash scripts/bench-diff-deps.sh (installs xdelta3, bsdiff, zstd),
// then build/bench/bench_diff [--tune] [--skip-bsdiff]
// --tune also compares compression levels and long-distance matcher
// settings of our format in-process (this chose DiffOptions' defaults).
// Data is built in a temporary folder under /tmp and removed at the end.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "KernelStandard/platform/Platform.h"
#include "bench/BenchSupport.h"
#include "tools/diff/ZstdDiff.h"

namespace {

using BenchSupport::Bytes;
using BenchSupport::RecordText;

namespace fs = std::filesystem;

constexpr std::size_t kMiB = 1 << 20;
constexpr int kApplyRepeats = 3;

struct Pair {
  std::string name;
  Bytes oldData;
  Bytes newData;
};

struct ToolResult {
  std::string tool;
  std::optional<std::uint64_t> diffSize;  // empty when the tool failed or was skipped
  double createSeconds = 0;
  double applySeconds = 0;  // best of kApplyRepeats
  bool verified = false;    // the applied output equals the new file
};

// --- Test data ------------------------------------------------------------

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Shared libraries in name order, concatenated until `length` bytes.
Bytes ConcatenatedLibraries(std::size_t length) {
  std::vector<fs::path> libraries;
  for (const auto& entry : fs::directory_iterator("/usr/lib/x86_64-linux-gnu")) {
    if (entry.is_regular_file() && entry.path().string().find(".so") != std::string::npos) {
      libraries.push_back(entry.path());
    }
  }
  std::sort(libraries.begin(), libraries.end());
  Bytes bytes;
  for (const auto& library : libraries) {
    if (bytes.size() >= length) break;
    const Bytes content = ReadFile(library);
    bytes.insert(bytes.end(), content.begin(), content.end());
  }
  bytes.resize(std::min(bytes.size(), length));
  return bytes;
}

Bytes RandomBytes(std::size_t length, std::uint64_t seed) {
  std::mt19937_64 generator(seed);
  Bytes bytes(length);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(generator());
  return bytes;
}

void Insert(Bytes& bytes, std::size_t at, const Bytes& inserted) {
  bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), inserted.begin(), inserted.end());
}

// A few hundred small edits as a rebuilt program shows them: changed
// words (addresses, constants) and short insertions and deletions.
void SmallEdits(Bytes& bytes, int count, std::uint64_t seed) {
  std::mt19937_64 generator(seed);
  for (int i = 0; i < count; ++i) {
    const std::size_t at = generator() % (bytes.size() - 64);
    switch (i % 3) {
      case 0:
      case 1:
        for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<std::uint8_t>(generator());
        break;
      default:
        if (generator() % 2 == 0) {
          Insert(bytes, at, RandomBytes(1 + generator() % 32, generator()));
        } else {
          bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                      bytes.begin() + static_cast<std::ptrdiff_t>(at + 1 + generator() % 32));
        }
    }
  }
}

Pair LibrariesPair() {
  Bytes all = ConcatenatedLibraries(65 * kMiB);
  const std::size_t oldLength = std::min<std::size_t>(64 * kMiB, all.size() * 64 / 65);
  Pair pair{"libraries 64 MiB, 300 edits + 1 MiB insert", Bytes(all.begin(), all.begin() + oldLength), {}};
  // The insert is library code the old file does not hold.
  const Bytes insert(all.begin() + static_cast<std::ptrdiff_t>(oldLength), all.end());
  pair.newData = pair.oldData;
  SmallEdits(pair.newData, 300, 41);
  Insert(pair.newData, pair.newData.size() / 2, insert);
  return pair;
}

Pair RecordsPair() {
  Pair pair{"records 96 MiB, 40 inserts of 4-64 KiB", RecordText(96 * kMiB, 42), {}};
  pair.newData = pair.oldData;
  std::mt19937_64 generator(43);
  for (int i = 0; i < 40; ++i) {
    Insert(pair.newData, generator() % pair.newData.size(), RecordText(4096 + generator() % (60 * 1024), i));
  }
  return pair;
}

Pair RandomPair() {
  Pair pair{"random 32 MiB, one small edit", RandomBytes(32 * kMiB, 44), {}};
  pair.newData = pair.oldData;
  for (std::size_t k = 0; k < 100; ++k) pair.newData[pair.newData.size() / 3 + k] ^= 0xA5;
  Insert(pair.newData, pair.newData.size() / 2, RandomBytes(10, 45));
  return pair;
}

// --- Running tools ----------------------------------------------------------

using BenchSupport::Run;
using BenchSupport::SecondsSince;

std::optional<double> TimedRun(const std::vector<std::string>& argv) {
  const auto start = std::chrono::steady_clock::now();
  if (!Run(argv)) return std::nullopt;
  return SecondsSince(start);
}

struct ToolCommands {
  std::string tool;
  std::vector<std::string> create;  // old, new -> diff
  std::vector<std::string> apply;   // old, diff -> out
};

ToolCommands CommandsFor(const std::string& tool, const std::string& oldPath, const std::string& newPath,
                         const std::string& diffPath, const std::string& outPath) {
  if (tool == "ours (vpatchl)") {
    return {tool,
            {VPATCH_TOOL, "--create", oldPath, newPath, diffPath},
            {VPATCH_TOOL, oldPath, diffPath, outPath}};
  }
  if (tool == "xdelta3") {
    return {tool,
            {"/usr/bin/xdelta3", "-e", "-f", "-s", oldPath, newPath, diffPath},
            {"/usr/bin/xdelta3", "-d", "-f", "-s", oldPath, diffPath, outPath}};
  }
  if (tool == "bsdiff") {
    return {tool,
            {"/usr/bin/bsdiff", oldPath, newPath, diffPath},
            {"/usr/bin/bspatch", oldPath, outPath, diffPath}};
  }
  const std::string patchFrom = "--patch-from=" + oldPath;
  return {tool,
          {"/usr/bin/zstd", "-q", "-f", patchFrom, "-3", "--long=27", newPath, "-o", diffPath},
          {"/usr/bin/zstd", "-q", "-f", "-d", patchFrom, "--long=27", diffPath, "-o", outPath}};
}

ToolResult Measure(const ToolCommands& commands, const fs::path& diffPath, const fs::path& outPath,
                   const Bytes& expected) {
  ToolResult result{commands.tool, std::nullopt, 0, 0, false};
  const auto created = TimedRun(commands.create);
  if (!created) return result;
  result.createSeconds = *created;
  result.diffSize = fs::file_size(diffPath);
  result.applySeconds = 1e30;
  for (int repeat = 0; repeat < kApplyRepeats; ++repeat) {
    fs::remove(outPath);
    const auto applied = TimedRun(commands.apply);
    if (!applied) return result;
    result.applySeconds = std::min(result.applySeconds, *applied);
  }
  result.verified = ReadFile(outPath) == expected;
  return result;
}

// --- Report -----------------------------------------------------------------

void PrintRow(const ToolResult& result) {
  if (!result.diffSize) {
    std::printf("  %-16s %14s\n", result.tool.c_str(), "failed/skipped");
    return;
  }
  std::printf("  %-16s %14llu %10.2f %10.3f  %s\n", result.tool.c_str(),
              static_cast<unsigned long long>(*result.diffSize), result.createSeconds, result.applySeconds,
              result.verified ? "ok" : "OUTPUT DIFFERS");
}

const ToolResult* Find(const std::vector<ToolResult>& results, const std::string& tool) {
  for (const auto& result : results) {
    if (result.tool == tool && result.diffSize) return &result;
  }
  return nullptr;
}

void PrintRatios(const std::vector<ToolResult>& results) {
  const ToolResult* ours = Find(results, "ours (vpatchl)");
  const ToolResult* xdelta = Find(results, "xdelta3");
  const ToolResult* zstd = Find(results, "zstd -3 CLI");
  if (ours == nullptr) return;
  if (xdelta != nullptr) {
    std::printf("  size ours/xdelta3 %.3f   apply ours/xdelta3 %.3f\n",
                static_cast<double>(*ours->diffSize) / static_cast<double>(*xdelta->diffSize),
                ours->applySeconds / xdelta->applySeconds);
  }
  if (zstd != nullptr) {
    std::printf("  size ours/zstd-CLI %.3f  apply ours/zstd-CLI %.3f\n",
                static_cast<double>(*ours->diffSize) / static_cast<double>(*zstd->diffSize),
                ours->applySeconds / zstd->applySeconds);
  }
}

void ComparePair(const Pair& pair, const fs::path& folder, bool withBsdiff) {
  const fs::path oldPath = folder / "old.bin", newPath = folder / "new.bin";
  WriteFile(oldPath, pair.oldData);
  WriteFile(newPath, pair.newData);
  std::printf("\n%s (old %zu, new %zu bytes)\n", pair.name.c_str(), pair.oldData.size(), pair.newData.size());
  std::printf("  %-16s %14s %10s %10s\n", "tool", "diff bytes", "create s", "apply s");
  std::vector<ToolResult> results;
  for (const std::string tool : {"ours (vpatchl)", "xdelta3", "zstd -3 CLI", "bsdiff"}) {
    const fs::path diffPath = folder / "diff.bin", outPath = folder / "out.bin";
    if (tool == "bsdiff" && !withBsdiff) {
      results.push_back({tool, std::nullopt, 0, 0, false});
    } else {
      results.push_back(
          Measure(CommandsFor(tool, oldPath, newPath, diffPath, outPath), diffPath, outPath, pair.newData));
    }
    PrintRow(results.back());
    std::fflush(stdout);
    fs::remove(diffPath);
    fs::remove(outPath);
  }
  PrintRatios(results);
}

// --- Tuning -----------------------------------------------------------------

struct Candidate {
  std::string label;
  KorvelTools::DiffOptions options;
};

std::vector<Candidate> TuningCandidates() {
  std::vector<Candidate> candidates;
  for (int level : {3, 9, 12, 19}) {
    KorvelTools::DiffOptions options;
    options.level = level;
    candidates.push_back({"level " + std::to_string(level), options});
  }
  KorvelTools::DiffOptions noLdm;
  noLdm.longDistanceMatching = false;
  candidates.push_back({"default, no LDM", noLdm});
  return candidates;
}

void TunePair(const Pair& pair) {
  std::printf("\ntuning: %s\n  %-28s %14s %10s %10s\n", pair.name.c_str(), "options", "diff bytes",
              "create s", "apply s");
  for (const Candidate& candidate : TuningCandidates()) {
    auto start = std::chrono::steady_clock::now();
    const Bytes diff = KorvelTools::CreateDiff(pair.oldData, pair.newData, candidate.options);
    const double createSeconds = SecondsSince(start);
    Bytes rebuilt;
    start = std::chrono::steady_clock::now();
    const bool ok = KorvelTools::ApplyDiff(pair.oldData, diff, rebuilt) == KorvelTools::DiffResult::Ok &&
                    rebuilt == pair.newData;
    std::printf("  %-28s %14zu %10.2f %10.3f  %s\n", candidate.label.c_str(), diff.size(), createSeconds,
                SecondsSince(start), ok ? "ok" : "FAILED");
    std::fflush(stdout);
  }
}

bool HasFlag(int argc, char** argv, const std::string& flag) {
  return std::find(argv + 1, argv + argc, flag) != argv + argc;
}

}  // namespace

int main(int argc, char** argv) {
  const bool tune = HasFlag(argc, argv, "--tune");
  const bool withBsdiff = !HasFlag(argc, argv, "--skip-bsdiff");
  char pattern[] = "/tmp/korvel_bench_diff_XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path folder = pattern;
  std::printf("diff benchmark: wall-clock seconds, apply is the best of %d runs\n", kApplyRepeats);
  for (const auto& makePair : std::vector<std::function<Pair()>>{LibrariesPair, RecordsPair, RandomPair}) {
    const Pair pair = makePair();
    ComparePair(pair, folder, withBsdiff);
    if (tune) TunePair(pair);
  }
  fs::remove_all(folder);
  return 0;
}
