// libFuzzer target: the input is taken as an installation's unins000.dat
// and updated with the records of a small addedFiles.txt. Whatever the
// bytes, the update must not read out of bounds or crash, must not fail
// (reading and writing work here), and must leave no temporary file.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "patch/UninstallLog.h"

namespace {

struct FuzzFolders {
  FuzzFolders() {
    char pattern[] = "/tmp/fuzz_uninstall_log_XXXXXX";
    if (!mkdtemp(pattern)) abort();
    root = pattern;
    install = root / "install";
    patch = root / "patch";
    std::filesystem::create_directories(install);
    std::filesystem::create_directories(patch);
    std::ofstream(patch / "addedFiles.txt", std::ios::binary)
        << "bin\\added.dll\r\n0123456789abcdef0123456789abcdef\r\n\r\n"
           "data\\maps\\new_region.pak\r\n0123456789abcdef0123456789abcdef\r\n\r\n";
  }
  ~FuzzFolders() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }

  std::filesystem::path root;
  std::filesystem::path install;
  std::filesystem::path patch;
};

FuzzFolders& Folders() {
  static FuzzFolders folders;
  return folders;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzFolders& folders = Folders();
  std::filesystem::remove_all(folders.install);
  std::filesystem::create_directories(folders.install);
  std::ofstream(folders.install / "unins000.dat", std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!NolkPatch::UpdateUninstallLog(folders.install.wstring(), folders.patch.wstring())) abort();
  if (std::filesystem::exists(folders.install / "unins000_temp.dat")) abort();
  return 0;
}
