// A whole folder tree captured for comparison: every folder and file by its
// path relative to the root ('/' separated), with each file's bytes.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace enginetest {

struct TreeSnapshot {
  // Relative path -> file bytes; folders map to no bytes.
  std::map<std::string, std::optional<std::string>> entries;

  bool operator==(const TreeSnapshot& other) const = default;
  // Paths ending in ".pbk".
  std::vector<std::string> Backups() const;
};

TreeSnapshot TakeSnapshot(const std::filesystem::path& root);

// gtest prints the differences instead of the raw maps.
void PrintTo(const TreeSnapshot& snapshot, std::ostream* os);
// A readable list of what differs between the two trees.
std::string DescribeDifferences(const TreeSnapshot& expected, const TreeSnapshot& actual);

}  // namespace enginetest
