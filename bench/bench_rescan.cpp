// Rescan of an unchanged installation with its cache: 10,000 small files in
// 200 nested folders, "repair.cks" present. Ours is what the repair client
// does before it connects: load the cache, scan (one status call per file,
// no file read), save the cache. The reference is find printing every
// entry's modification time and size, the least a scan must learn. Prints
// the best of fifteen interleaved runs for both and their ratio (goal: ours
// within 2x of find), and the number of files opened by one rescan (only the
// cache, twice).
//
// The tree is made under /tmp and removed at the end.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "KernelStandard/platform/FaultInjection.h"
#include "KernelStandard/platform/Platform.h"
#include "bench/BenchSupport.h"
#include "repair/FileTreeSummary.h"

namespace {

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 100;
constexpr int kRuns = 15;

class ScratchTree {
 public:
  ScratchTree() {
    char pattern[] = "/tmp/korvel-bench-rescan-XXXXXX";
    if (mkdtemp(pattern) != nullptr) m_root = pattern;
  }
  ~ScratchTree() {
    std::error_code ignored;
    if (!m_root.empty()) std::filesystem::remove_all(m_root, ignored);
  }
  bool Valid() const { return !m_root.empty(); }
  const std::filesystem::path& Root() const { return m_root; }

  // data/dNN/assets/fNNN.dat, a few hundred bytes to a few KiB each.
  void Fill() const {
    for (int folder = 0; folder < kFolders; ++folder) {
      std::string folderName = "d";
      folderName += std::to_string(folder);
      const auto path = m_root / "data" / folderName / "assets";
      std::filesystem::create_directories(path);
      for (int file = 0; file < kFilesPerFolder; ++file) {
        const BenchSupport::Bytes bytes =
            BenchSupport::RecordText(200 + (folder * 37 + file * 101) % 4000, file);
        std::string fileName = "f";
        fileName += std::to_string(file);
        fileName += ".dat";
        std::ofstream(path / fileName, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
      }
    }
  }

 private:
  std::filesystem::path m_root;
};

bool Rescan(const std::wstring& root, const std::wstring& cache, std::size_t& entries) {
  NolkPatch::FileTreeSummary summary;
  if (summary.LoadFromFile(cache) != NOLKRESULT_OK) return false;
  if (summary.Scan(root, {NolkPatch::kSummaryFileName}) != NOLKRESULT_OK) return false;
  entries = summary.Count();
  return summary.SaveToFile(cache) == NOLKRESULT_OK;
}

// Runs find over the tree, reading all it prints; seconds, or -1.
double TimeFind(const std::string& root, std::size_t& lines) {
  OS::Platform& platform = OS::Current();
  const auto start = std::chrono::steady_clock::now();
  OS::SpawnedProcess child;
  if (!platform.SpawnWithPipe({"find", root, "-printf", "%T@ %s\n"}, child)) return -1;
  char buffer[65536];
  lines = 0;
  for (long count; (count = platform.ReadPipe(child.outputFd, buffer, sizeof buffer)) > 0;) {
    lines += static_cast<std::size_t>(std::count(buffer, buffer + count, '\n'));
  }
  platform.ClosePipe(child.outputFd);
  int exitCode = -1;
  if (!platform.WaitProcess(child.pid, -1, exitCode) || exitCode != 0) return -1;
  return BenchSupport::SecondsSince(start);
}

}  // namespace

int main() {
  ScratchTree tree;
  if (!tree.Valid()) return 1;
  tree.Fill();
  const std::wstring root = tree.Root().wstring();
  const std::wstring cache = (tree.Root() / "repair.cks").wstring();
  {
    // The first scan reads every file and writes the cache.
    OS::ScopedFaults quiet;
    OS::FaultRule dropOutput;
    dropOutput.operation = "WriteStdout";
    quiet.Add(dropOutput);
    NolkPatch::FileTreeSummary first;
    first.Scan(root, {NolkPatch::kSummaryFileName});
    if (first.SaveToFile(cache) != NOLKRESULT_OK) return 1;
  }

  std::size_t entries = 0;
  int opened = 0;
  {
    OS::ScopedFaults counting;
    if (!Rescan(root, cache, entries)) return 1;
    opened = counting.Calls("OpenStream");
  }
  double ours = 1e9;
  double reference = 1e9;
  std::size_t lines = 0;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = std::chrono::steady_clock::now();
    if (!Rescan(root, cache, entries)) return 1;
    ours = std::min(ours, BenchSupport::SecondsSince(start));
    const double seconds = TimeFind(tree.Root().string(), lines);
    if (seconds < 0) {
      std::printf("find failed\n");
      return 1;
    }
    reference = std::min(reference, seconds);
  }

  std::printf("Rescan of an unchanged tree of %d files with its cache (best of %d runs)\n",
              kFolders * kFilesPerFolder, kRuns);
  std::printf("  ours (load, scan, save)  %7.1f ms  (%zu entries, %d files opened)\n", ours * 1e3, entries,
              opened);
  std::printf("  find -printf '%%T@ %%s'  %7.1f ms  (%zu entries)\n", reference * 1e3, lines);
  std::printf("  ratio ours/find  %.2f (goal <= 2)\n", ours / reference);
  return 0;
}
