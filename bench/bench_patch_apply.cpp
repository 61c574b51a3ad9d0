// Whole-patch benchmark: unpacking and applying one archive (added, deleted
// and changed files) beside the same work done by reference tools on the
// same bytes: zlib uncompress of every block of the archive, the zstd CLI
// in patch-from mode for every diff, and cp for every new file. Prints the
// best of three for both and their ratio; the goal is ours within 1.25x of
// the reference.
//
// Run: bash scripts/bench-diff-deps.sh (installs the zstd CLI), then
// build/bench/bench_patch_apply. The ~200 MiB installation is built in a
// temporary folder under /tmp and removed at the end.
#include <stdlib.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "KernelStandard/TextConvert.h"
#include "KernelStandard/platform/Platform.h"
#include "bench/BenchSupport.h"
#include "patch/ArchiveEntryName.h"
#include "patch/PatchArchive.h"
#include "patch/PatchEngine.h"
#include "patch/PatchEngineCallbacks.h"
#include "patch/PatchSettings.h"
#include "tools/diff/ZstdDiff.h"
#include "tools/publisher/ArchiveBuilder.h"

namespace {

using BenchSupport::Bytes;
using BenchSupport::RecordText;

namespace fs = std::filesystem;

constexpr std::size_t kMiB = 1 << 20;
constexpr std::size_t kLibraryBytes = 150 * kMiB;
constexpr int kGeneratedFiles = 160;
constexpr int kNewFiles = 30;
constexpr int kRepeats = 3;

// --- Files -------------------------------------------------------------------

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::uint8_t* data, std::size_t length) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(length));
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
  WriteFile(path, bytes.data(), bytes.size());
}

std::wstring Wide(const fs::path& path) {
  return NolkUtil::ToWide(path.string());
}

using BenchSupport::Run;
using BenchSupport::SecondsSince;

// --- Test data ---------------------------------------------------------------

// Shared libraries of moderate size in name order, until `total` bytes.
std::vector<fs::path> SomeLibraries(std::size_t total) {
  std::vector<fs::path> libraries;
  for (const auto& entry : fs::directory_iterator("/usr/lib/x86_64-linux-gnu")) {
    if (entry.is_regular_file() && !entry.is_symlink() &&
        entry.path().string().find(".so") != std::string::npos)
      libraries.push_back(entry.path());
  }
  std::sort(libraries.begin(), libraries.end());
  std::vector<fs::path> chosen;
  std::size_t sum = 0;
  for (const auto& library : libraries) {
    const std::uintmax_t size = fs::file_size(library);
    if (size < 16 * 1024 || size > 4 * kMiB) continue;
    if (sum >= total) break;
    chosen.push_back(library);
    sum += size;
  }
  return chosen;
}

// A nested folder for the n-th file; folder names carry no '.'.
fs::path FolderFor(int index) {
  return fs::path("data") / ("set" + std::to_string(index % 7)) / ("part" + std::to_string(index % 5));
}

// A handful of changed words and one short insertion, as a rebuild shows.
void SmallEdits(Bytes& bytes, std::uint64_t seed) {
  std::mt19937_64 generator(seed);
  if (bytes.size() < 256) return;
  for (int i = 0; i < 8; ++i) {
    const std::size_t at = generator() % (bytes.size() - 8);
    for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<std::uint8_t>(generator());
  }
  const Bytes inserted = RecordText(64 + generator() % 512, generator());
  bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(generator() % bytes.size()), inserted.begin(),
               inserted.end());
}

struct TreeCounts {
  int files = 0;
  int changed = 0;
  int deleted = 0;
  int added = 0;
  std::uintmax_t oldBytes = 0;
};

// The n-th file of the old tree goes into the new tree unchanged, changed
// (every tenth) or not at all (every twentieth).
void PlaceFile(const fs::path& oldTree, const fs::path& newTree, const fs::path& relative,
               const Bytes& content, int index, TreeCounts& counts) {
  WriteFile(oldTree / relative, content);
  ++counts.files;
  counts.oldBytes += content.size();
  if (index % 20 == 7) {
    ++counts.deleted;
    return;
  }
  if (index % 10 == 3) {
    Bytes changed = content;
    SmallEdits(changed, static_cast<std::uint64_t>(index));
    WriteFile(newTree / relative, changed);
    ++counts.changed;
    return;
  }
  WriteFile(newTree / relative, content);
}

TreeCounts BuildTrees(const fs::path& oldTree, const fs::path& newTree) {
  TreeCounts counts;
  for (const fs::path& tree : {oldTree, newTree}) {
    fs::create_directories(tree / "bin");
    fs::copy_file(VPATCH_TOOL, tree / "bin" / "vpatchl-w32.exe");
  }
  int index = 0;
  for (const fs::path& library : SomeLibraries(kLibraryBytes)) {
    PlaceFile(oldTree, newTree, FolderFor(index) / library.filename(), ReadFile(library), index, counts);
    ++index;
  }
  for (int n = 0; n < kGeneratedFiles; ++n, ++index) {
    const Bytes content = RecordText(64 * 1024 + static_cast<std::size_t>(n % 9) * 48 * 1024, 1000 + n);
    PlaceFile(oldTree, newTree, FolderFor(index) / ("records" + std::to_string(n) + ".dat"), content, index,
              counts);
  }
  for (int n = 0; n < kNewFiles; ++n) {
    const Bytes content = RecordText(32 * 1024 + static_cast<std::size_t>(n) * 16 * 1024, 5000 + n);
    WriteFile(newTree / "data" / "added" / ("new" + std::to_string(n) + ".dat"), content);
    ++counts.added;
  }
  return counts;
}

// --- The reference: the archive's bytes through zlib, zstd and cp ------------

struct Reader {
  const Bytes& bytes;
  std::size_t position = 0;

  std::optional<std::uint32_t> ReadUint32() {
    if (bytes.size() - position < 4) return std::nullopt;
    const std::uint8_t* p = bytes.data() + position;
    position += 4;
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
  }
  bool AtEnd() const { return position == bytes.size(); }
};

// One compressed block stream, every block uncompressed in turn.
std::optional<Bytes> ReadBlockStream(Reader& reader) {
  const auto count = reader.ReadUint32();
  if (!count) return std::nullopt;
  Bytes plain;
  for (std::uint32_t block = 0; block < *count; ++block) {
    const auto compressedLength = reader.ReadUint32();
    const auto plainLength = reader.ReadUint32();
    if (!compressedLength || !plainLength) return std::nullopt;
    if (reader.bytes.size() - reader.position < *compressedLength) return std::nullopt;
    const std::size_t start = plain.size();
    plain.resize(start + *plainLength);
    uLongf produced = *plainLength;
    if (uncompress(plain.data() + start, &produced, reader.bytes.data() + reader.position,
                   *compressedLength) != Z_OK ||
        produced != *plainLength)
      return std::nullopt;
    reader.position += *compressedLength;
  }
  return plain;
}

// ".\data\a\b.dll" -> "a/b.dll"; empty for the lists beside "data".
fs::path DataRelative(const std::wstring& name) {
  std::string path = NolkUtil::ToNarrow(name);
  std::replace(path.begin(), path.end(), '\\', '/');
  const std::string prefix = "./data/";
  if (path.rfind(prefix, 0) != 0) return {};
  return path.substr(prefix.size());
}

// A diff rebuilds its file through the zstd CLI from the installed old file.
bool ApplyWithZstd(const fs::path& install, const fs::path& work, const fs::path& target, const Bytes& diff) {
  if (diff.size() < KorvelTools::kDiffHeaderSize) return false;
  const fs::path frame = work / "frame.zst";
  const fs::path out = work / "out.bin";
  WriteFile(frame, diff.data() + KorvelTools::kDiffHeaderSize, diff.size() - KorvelTools::kDiffHeaderSize);
  const fs::path old = install / target;
  if (!Run({"/usr/bin/zstd", "-q", "-d", "-f", "--long=31", "--patch-from=" + old.string(), frame.string(),
            "-o", out.string()}))
    return false;
  fs::rename(out, old);
  return true;
}

// A new file is written plain, then copied into place with cp.
bool CopyWithCp(const fs::path& install, const fs::path& work, const fs::path& target, const Bytes& content) {
  const fs::path unpacked = work / "unpacked" / target;
  WriteFile(unpacked, content);
  fs::create_directories((install / target).parent_path());
  return Run({"/bin/cp", unpacked.string(), (install / target).string()});
}

bool ApplyEntry(const fs::path& install, const fs::path& work, const std::wstring& name,
                const Bytes& content) {
  const fs::path relative = DataRelative(name);
  if (relative.empty()) return true;  // the lists are only uncompressed
  const std::string text = relative.string();
  const std::string diffSuffix = ".diff";
  if (text.size() > diffSuffix.size() && text.ends_with(diffSuffix)) {
    const fs::path target = text.substr(0, text.size() - diffSuffix.size());
    if (fs::exists(install / target)) return ApplyWithZstd(install, work, target, content);
  }
  return CopyWithCp(install, work, relative, content);
}

bool ReferenceApply(const fs::path& archive, const fs::path& install, const fs::path& work) {
  const Bytes bytes = ReadFile(archive);
  Reader reader{bytes};
  const auto version = reader.ReadUint32();
  if (!version || *version != NolkPatch::kPatchArchiveFormatVersion) return false;
  while (!reader.AtEnd()) {
    const auto nameBlock = ReadBlockStream(reader);
    if (!nameBlock) return false;
    std::wstring name;
    if (NolkPatch::DecodeNameBlock(nameBlock->data(), nameBlock->size(), name) !=
        NolkPatch::NameBlockStatus::NAME_OK)
      return false;
    if (NolkPatch::IsFolderEntryName(name)) continue;
    const auto content = ReadBlockStream(reader);
    if (!content || !ApplyEntry(install, work, name, *content)) return false;
  }
  return true;
}

// --- Measuring ---------------------------------------------------------------

void Restore(const fs::path& oldTree, const fs::path& install, const fs::path& work) {
  fs::remove_all(install);
  fs::remove_all(work);
  fs::copy(oldTree, install, fs::copy_options::recursive);
  fs::create_directories(work);
}

bool OursApply(const fs::path& archive, const fs::path& install, const fs::path& patch) {
  return NolkPatch::UnpackPatchArchive(Wide(archive), Wide(patch)) &&
         NolkPatch::ApplyPatch(Wide(install), Wide(patch), L"NolkLauncher.exe");
}

// Every file of the new tree, byte for byte, in the installation.
bool MatchesNewTree(const fs::path& newTree, const fs::path& install) {
  for (const auto& entry : fs::recursive_directory_iterator(newTree)) {
    if (!entry.is_regular_file()) continue;
    const fs::path installed = install / fs::relative(entry.path(), newTree);
    if (!fs::exists(installed) || ReadFile(installed) != ReadFile(entry.path())) {
      std::printf("  differs: %s\n", installed.string().c_str());
      return false;
    }
  }
  return true;
}

template <typename Apply>
std::optional<double> BestOf(const fs::path& oldTree, const fs::path& install, const fs::path& work,
                             Apply apply) {
  double best = 1e30;
  for (int repeat = 0; repeat < kRepeats; ++repeat) {
    Restore(oldTree, install, work);
    const auto start = std::chrono::steady_clock::now();
    if (!apply()) return std::nullopt;
    best = std::min(best, SecondsSince(start));
  }
  return best;
}

void CollectEngineMessages() {
  NolkPatch::PatchEngineCallbacks callbacks;
  callbacks.message = [](int level, const std::wstring& text) {
    if (level >= 2) std::printf("  engine: %s\n", NolkUtil::ToNarrow(text).c_str());
  };
  NolkPatch::SetPatchEngineCallbacks(callbacks);
}

int RunBenchmark(const fs::path& root) {
  const fs::path oldTree = root / "old";
  const fs::path newTree = root / "new";
  const fs::path install = root / "install";
  const fs::path work = root / "work";
  const fs::path archive = root / "patch.arc";
  setenv("KORVEL_REGISTRY", (root / "registry.reg").c_str(), 1);

  const TreeCounts counts = BuildTrees(oldTree, newTree);
  std::printf("old installation: %d files, %.1f MiB; %d changed, %d deleted, %d added\n", counts.files,
              static_cast<double>(counts.oldBytes) / kMiB, counts.changed, counts.deleted, counts.added);
  KorvelTools::ArchiveBuildOptions options;
  options.oldTree = Wide(oldTree);
  options.newTree = Wide(newTree);
  options.archivePath = Wide(archive);
  const KorvelTools::PublisherResult built = KorvelTools::BuildPatchArchive(options);
  if (!built.Ok()) {
    std::printf("archive build failed: %s\n", built.message.c_str());
    return 1;
  }
  std::printf("archive: %.1f MiB\n", static_cast<double>(fs::file_size(archive)) / kMiB);

  CollectEngineMessages();
  NolkPatch::PatchSettings::Get().InstallPath = Wide(install);
  const auto ours = BestOf(oldTree, install, work, [&] { return OursApply(archive, install, work); });
  const bool oursCorrect = ours && MatchesNewTree(newTree, install);
  const auto reference =
      BestOf(oldTree, install, work, [&] { return ReferenceApply(archive, install, work); });
  const bool referenceCorrect = reference && MatchesNewTree(newTree, install);
  NolkPatch::SetPatchEngineCallbacks({});
  NolkPatch::PatchSettings::Get().Reset();

  if (!ours || !reference) {
    std::printf("%s failed\n", ours ? "reference" : "ours");
    return 1;
  }
  std::printf("ours (unpack + apply):           %8.3f s  %s\n", *ours, oursCorrect ? "ok" : "RESULT DIFFERS");
  std::printf("reference (zlib + zstd -d + cp): %8.3f s  %s\n", *reference,
              referenceCorrect ? "ok" : "RESULT DIFFERS");
  std::printf("ratio ours / reference:          %8.2f  (goal <= 1.25)\n", *ours / *reference);
  return oursCorrect && referenceCorrect ? 0 : 1;
}

}  // namespace

int main() {
  char pattern[] = "/tmp/korvel-bench-apply-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::printf("cannot create a temporary folder\n");
    return 1;
  }
  const fs::path root = pattern;
  int status = 1;
  try {
    status = RunBenchmark(root);
  } catch (const std::exception& error) {
    std::printf("failed: %s\n", error.what());
  }
  std::error_code ignored;
  fs::remove_all(root, ignored);
  return status;
}
