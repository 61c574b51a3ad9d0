// libFuzzer target: the input is taken as a program file that may carry a
// patch package. It is opened, every lookup is run (following the patch
// chain from each version found), and one archive is extracted. Whatever
// the bytes, the reader must not crash or read out of bounds, and an
// extracted archive must lie inside the input.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "patch/PatchPackage.h"

namespace {

struct FuzzFolder {
  FuzzFolder() {
    char pattern[] = "/tmp/fuzz_package_reader_XXXXXX";
    if (!mkdtemp(pattern)) abort();
    root = pattern;
  }
  ~FuzzFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  std::filesystem::path root;
};

FuzzFolder& Folder() {
  static FuzzFolder folder;
  return folder;
}

// Follows the chain of target versions a bounded number of steps.
void FollowChain(NolkPatch::PatchPackage& package, std::string version) {
  for (int step = 0; step < 8 && !version.empty(); ++step) version = package.FindTargetVersion(version);
}

void CheckExtract(NolkPatch::PatchPackage& package, const std::string& version,
                  const std::filesystem::path& output, std::size_t inputSize) {
  const NolkResult result = package.ExtractPatch(version, output.wstring());
  std::error_code error;
  if (result == NOLKRESULT_OK && std::filesystem::file_size(output, error) > inputSize) abort();
  std::filesystem::remove(output, error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path input = Folder().root / "patch.exe";
  const std::filesystem::path output = Folder().root / "archive.tmp";
  std::ofstream(input, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

  NolkPatch::PatchPackage package;
  const NolkResult opened = package.Open(input.wstring());
  if (opened != NOLKRESULT_OK && (package.IsOpen() || !package.GetBuild().empty())) abort();
  const std::string build = package.GetBuild();
  if (build.size() > 31) abort();
  const std::string installed = package.FindVersionForBuildHash("0123456789abcdef0123456789abcdef");
  FollowChain(package, installed);
  FollowChain(package, build);
  CheckExtract(package, installed, output, size);
  CheckExtract(package, "39979", output, size);
  package.Close();
  if (package.ExtractPatch("39979", output.wstring()) != NOLKRESULT_NOT_OPEN) abort();
  return 0;
}
