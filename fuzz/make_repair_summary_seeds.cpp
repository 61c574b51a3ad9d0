// Writes the seed corpus of the repair summary fuzz target: summaries saved
// by FileTreeSummary itself (from a scan of a small generated installation
// and from loaded entries) and broken variants of them.
//
//   make_repair_summary_seeds <fuzz folder>
// writes <fuzz folder>/corpus/repair_summary/*.bin. Build it against the
// project libraries, for example (one line):
//   g++ -std=c++20 -I. fuzz/make_repair_summary_seeds.cpp build/repair/libkorvel_repair.a
//     build/stream/libkorvel_stream.a build/KernelStandard/libkorvel_kernel.a -lz -lpthread
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "repair/FileTreeSummary.h"
#include "repair/SummaryStreamFormat.h"
#include "stream/NolkDataBufferMemory.h"

namespace {

using Bytes = std::string;

void WriteSeed(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  std::printf("%s (%zu bytes)\n", path.string().c_str(), bytes.size());
}

Bytes Saved(const NolkPatch::FileTreeSummary& summary) {
  NolkDataBufferMemoryDynamic buffer;
  summary.Save(buffer);
  return Bytes(buffer.Bytes().begin(), buffer.Bytes().end());
}

struct Row {
  std::wstring name;
  std::uint32_t checksum;
  std::uint64_t time;
};

// A stream written field by field, so that it may break the rules the
// summary itself keeps (order, duplicates, counts).
Bytes Stream(const std::vector<Row>& rows, std::uint32_t count) {
  Bytes bytes;
  NolkUtil::AppendLe32(NolkUtil::kSummaryMagic, bytes);
  NolkUtil::AppendLe32(count, bytes);
  for (const Row& row : rows) {
    NolkUtil::AppendCountedName(row.name, bytes);
    NolkUtil::AppendLe32(row.checksum, bytes);
    NolkUtil::AppendLe64(row.time, bytes);
  }
  return bytes;
}

// A small installation on disk, scanned as the repair client does.
Bytes ScannedInstallation() {
  char pattern[] = "/tmp/make_repair_summary_seeds_XXXXXX";
  if (!mkdtemp(pattern)) abort();
  const std::filesystem::path root = pattern;
  const auto write = [&](const std::string& relative, const std::string& content) {
    std::filesystem::create_directories((root / relative).parent_path());
    std::ofstream(root / relative, std::ios::binary) << content;
  };
  write("bin/Launcher.exe", "launcher bytes");
  write("bin/unins000.exe", "uninstaller");
  write("data/maps/north/terrain.map", std::string(5000, 'm'));
  write("data/readme#1.txt", "a name with a hash");
  write("empty.cfg", "");
  NolkPatch::FileTreeSummary summary;
  summary.Scan(root.wstring(), {L"bin\\unins000.exe"});
  std::filesystem::remove_all(root);
  return Saved(summary);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_repair_summary_seeds <fuzz folder>\n");
    return 2;
  }
  const std::filesystem::path folder = std::filesystem::path(argv[1]) / "corpus" / "repair_summary";
  std::filesystem::create_directories(folder);

  const Bytes scanned = ScannedInstallation();
  WriteSeed(folder / "scanned.bin", scanned);
  WriteSeed(folder / "empty_summary.bin", Saved(NolkPatch::FileTreeSummary()));
  WriteSeed(folder / "truncated.bin", scanned.substr(0, scanned.size() - 5));
  Bytes foreign = scanned;
  foreign[0] = '1';
  WriteSeed(folder / "foreign_magic.bin", foreign);

  const std::vector<Row> rows = {{L"a#000", 1, 1700000000}, {L"b\\c#001", 0, 2}};
  WriteSeed(folder / "count_too_large.bin", Stream(rows, 0xFFFFFFFFu));
  Bytes longName = Stream({}, 1);
  NolkUtil::AppendLe32(NolkUtil::kMaxNameUnits + 1, longName);
  WriteSeed(folder / "name_too_long.bin", longName + "xxxx");
  WriteSeed(folder / "unordered_duplicates.bin",
            Stream({{L"z#000", 5, 5}, {L"a#000", 6, 6}, {L"z#000", 7, 7}}, 3));
  WriteSeed(folder / "unsafe_names.bin", Stream({{L"..\\..\\outside.dll#000", 1, 1},
                                                 {L"C:\\Windows\\x.dll#000", 2, 2},
                                                 {L"bin\\x.dll#-1", 3, 3},
                                                 {L"bin\\x.dll#99999999999999999999", 4, 4},
                                                 {std::wstring(L"nul\0byte#000", 12), 5, 5},
                                                 {L"\U0001F600\\\uFF21#1000", 6, 6}},
                                                6));
  Bytes loneSurrogate = Stream({}, 1);
  NolkUtil::AppendLe32(2, loneSurrogate);
  loneSurrogate += std::string("\x00\xD8\x41\x00", 4);
  NolkUtil::AppendLe32(9, loneSurrogate);
  NolkUtil::AppendLe64(9, loneSurrogate);
  WriteSeed(folder / "lone_surrogate.bin", loneSurrogate);
  return 0;
}
