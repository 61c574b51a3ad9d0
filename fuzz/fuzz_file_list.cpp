// libFuzzer target: the input is taken as a patch's file list. Reading it
// must never crash or read past the text, every entry must come from a
// complete group of three lines, and the path check must answer for any
// path without faulting.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "patch/FileList.h"

namespace {

std::filesystem::path ListPath() {
  static const std::filesystem::path path = [] {
    char pattern[] = "/tmp/fuzz_file_list_XXXXXX";
    if (!mkdtemp(pattern)) abort();
    return std::filesystem::path(pattern) / "patchedFiles.txt";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> lines = NolkPatch::SplitListLines(text);

  std::ofstream(ListPath(), std::ios::binary | std::ios::trunc) << text;
  std::vector<NolkPatch::FileListEntry> entries;
  const NolkPatch::FileListResult result = NolkPatch::ReadFileList(ListPath().wstring(), entries);
  if (result != NolkPatch::FILELIST_OK && result != NolkPatch::FILELIST_PARTIAL_GROUP) abort();
  if (entries.size() != lines.size() / 3) abort();
  if ((result == NolkPatch::FILELIST_PARTIAL_GROUP) != (lines.size() % 3 != 0)) abort();
  for (const NolkPatch::FileListEntry& entry : entries) NolkPatch::IsSafeListPath(entry.path);
  return 0;
}
