// libFuzzer target: the input is taken as an installation's patch journal
// and as a "fileModes.txt". Parsing must never crash; a journal that parses
// must read back the same after it is written again, and a permission
// parsed from an archive never carries more than the bits 0777.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "patch/FileModes.h"
#include "patch/PatchJournal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  NolkPatch::PatchJournal journal;
  if (NolkPatch::ParsePatchJournal(text, journal)) {
    NolkPatch::PatchJournal again;
    if (!NolkPatch::ParsePatchJournal(NolkPatch::FormatPatchJournal(journal), again)) abort();
    if (again.patch != journal.patch || again.backups.size() != journal.backups.size() ||
        again.phase != journal.phase || again.rebuildOwed != journal.rebuildOwed)
      abort();
  }
  NolkPatch::FileModes modes;
  if (NolkPatch::ParseFileModes(text, modes)) {
    for (const auto& [path, mode] : modes) {
      if ((mode & ~NolkPatch::kArchivePermissionBits) != 0) abort();
    }
  }
  return 0;
}
