#include "TreeSnapshot.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace enginetest {
namespace {

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::vector<std::string> TreeSnapshot::Backups() const {
  std::vector<std::string> backups;
  for (const auto& [path, bytes] : entries) {
    if (EndsWith(path, ".pbk")) backups.push_back(path);
  }
  return backups;
}

TreeSnapshot TakeSnapshot(const std::filesystem::path& root) {
  TreeSnapshot snapshot;
  if (!std::filesystem::exists(root)) return snapshot;
  for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
    const std::string relative = item.path().lexically_relative(root).generic_string();
    if (relative == "KorvelPatch.journal") continue;  // the run's bookkeeping, checked on its own
    if (item.is_directory()) {
      snapshot.entries[relative] = std::nullopt;
    } else {
      snapshot.entries[relative] = ReadAll(item.path());
    }
  }
  return snapshot;
}

std::string DescribeDifferences(const TreeSnapshot& expected, const TreeSnapshot& actual) {
  std::ostringstream text;
  for (const auto& [path, bytes] : expected.entries) {
    const auto found = actual.entries.find(path);
    if (found == actual.entries.end()) {
      text << "  missing: " << path << "\n";
    } else if (found->second != bytes) {
      text << "  differs: " << path << "\n";
    }
  }
  for (const auto& [path, bytes] : actual.entries) {
    if (expected.entries.count(path) == 0) text << "  unexpected: " << path << "\n";
  }
  return text.str();
}

void PrintTo(const TreeSnapshot& snapshot, std::ostream* os) {
  *os << "tree of " << snapshot.entries.size() << " entries:";
  for (const auto& [path, bytes] : snapshot.entries) {
    *os << "\n  " << path;
    if (bytes) *os << " (" << bytes->size() << " bytes)";
  }
}

}  // namespace enginetest
