// The names of the asset database's mutex and shared block. They are an
// interface with the game's own programs and are built exactly as those
// build them: from the lower-cased database folder, with '/' separators.
#include <string>

#include "patch/AssetDatabase.h"

namespace NolkPatch {
namespace {

constexpr const char* kMutexNamePrefix = "09731AC6-B611-4e2a-B181-578073F64F24";
constexpr const char* kBlockNameSuffix = "-ipc2";
const std::string kDatabaseFileName = "assets.odx";
// The separator before the file name and the name itself.
constexpr std::size_t kFileNamePartLength = 11;

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string WithoutLeadingSeparators(const std::string& path) {
  const std::size_t first = path.find_first_not_of("/\\");
  return first == std::string::npos ? std::string() : path.substr(first);
}

}  // namespace

// A path of just "assets.odx" has no separator and no folder before the
// name; it is refused rather than cut short.
bool MakeDatabaseIpcNames(const std::string& databasePath, std::string& mutexName, std::string& blockName) {
  const std::string lowered = LowerAscii(databasePath);
  if (lowered.size() < kFileNamePartLength || !EndsWith(lowered, kDatabaseFileName)) return false;
  const std::string folder = lowered.substr(0, lowered.size() - kFileNamePartLength);

  mutexName = std::string(kMutexNamePrefix) + "/" + WithoutLeadingSeparators(folder);
  for (char& c : mutexName) {
    if (c == '\\') c = '/';
  }
  blockName = mutexName + "/" + kBlockNameSuffix;
  return true;
}

}  // namespace NolkPatch
