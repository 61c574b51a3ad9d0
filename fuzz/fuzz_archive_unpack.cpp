// libFuzzer target: the input is taken as a patch archive and unpacked into
// a fresh folder three levels below the fuzzer's own temporary folder.
// Whatever the bytes, the unpacker must not crash or read out of bounds, and
// nothing may appear outside the destination (a name climbing up to three
// levels would land where this check sees it).
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "patch/PatchArchive.h"

namespace {

struct FuzzFolder {
  FuzzFolder() {
    char pattern[] = "/tmp/fuzz_archive_unpack_XXXXXX";
    if (!mkdtemp(pattern)) abort();
    root = pattern;
    archive = root / "patch.archive";
    run = root / "run";
    destination = run / "a" / "dest";
  }
  ~FuzzFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  std::filesystem::path root;
  std::filesystem::path archive;
  std::filesystem::path run;
  std::filesystem::path destination;
};

FuzzFolder& Folder() {
  static FuzzFolder folder;
  return folder;
}

// The only entries allowed outside the destination: the archive and the
// folders leading to the destination.
bool OnlyExpectedEntriesOutside(const FuzzFolder& folder) {
  for (auto it = std::filesystem::recursive_directory_iterator(folder.root);
       it != std::filesystem::recursive_directory_iterator(); ++it) {
    const std::filesystem::path& path = it->path();
    if (path == folder.destination) {
      it.disable_recursion_pending();
      continue;
    }
    if (path != folder.archive && path != folder.run && path != folder.destination.parent_path())
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzFolder& folder = Folder();
  std::filesystem::remove_all(folder.run);
  std::filesystem::create_directories(folder.destination);
  std::ofstream(folder.archive, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

  NolkPatch::UnpackPatchArchive(folder.archive.wstring(), folder.destination.wstring());

  if (!OnlyExpectedEntriesOutside(folder)) abort();
  std::filesystem::remove_all(folder.run);
  return 0;
}
