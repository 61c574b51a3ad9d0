// The checks of PackageOptions that need no file (Packager.h).
#include <map>
#include <set>

#include "patch/PackageFormat.h"
#include "tools/publisher/Packager.h"

namespace KorvelTools {
namespace {

constexpr std::size_t kMd5HexLength = 32;

PublisherResult CheckVersion(const std::string& version, const std::string& what) {
  if (version.empty()) return PublisherResult::Refuse(what + " is empty");
  if (version.size() >= NolkPatch::kVersionFieldSize)
    return PublisherResult::Refuse(what + " \"" + version + "\" is longer than " +
                                   std::to_string(NolkPatch::kVersionFieldSize - 1) + " characters");
  for (unsigned char character : version)
    if (character < 0x20 || character == 0x7F)
      return PublisherResult::Refuse(what + " holds a control character");
  return PublisherResult::Success();
}

bool IsLowerHexDigit(char character) {
  return (character >= '0' && character <= '9') || (character >= 'a' && character <= 'f');
}

PublisherResult CheckHash(const std::string& hash) {
  if (hash.size() >= NolkPatch::kHashFieldSize)
    return PublisherResult::Refuse("the build hash is longer than " +
                                   std::to_string(NolkPatch::kHashFieldSize - 1) + " characters");
  bool hex = hash.size() == kMd5HexLength;
  for (char character : hash) hex = hex && IsLowerHexDigit(character);
  if (!hex)
    return PublisherResult::Refuse("the build hash \"" + hash + "\" is not 32 lower-case hexadecimal digits");
  return PublisherResult::Success();
}

PublisherResult CheckBuilds(const std::vector<BuildHashMapping>& builds) {
  if (builds.empty()) return PublisherResult::Refuse("no build hash given (--build HASH=VERSION)");
  std::set<std::string> hashes;
  for (const BuildHashMapping& build : builds) {
    PublisherResult result = CheckHash(build.hash);
    if (result.Ok()) result = CheckVersion(build.version, "the version of build " + build.hash);
    if (!result.Ok()) return result;
    if (!hashes.insert(build.hash).second)
      return PublisherResult::Refuse("the build hash " + build.hash + " is given twice");
  }
  return PublisherResult::Success();
}

PublisherResult CheckPatches(const std::vector<PackagedPatch>& patches) {
  if (patches.empty()) return PublisherResult::Refuse("no patch given (--patch SOURCE:TARGET:ARCHIVE)");
  std::set<std::string> sources;
  for (const PackagedPatch& patch : patches) {
    PublisherResult result = CheckVersion(patch.sourceVersion, "a source version");
    if (result.Ok())
      result = CheckVersion(patch.targetVersion, "the target version of " + patch.sourceVersion);
    if (!result.Ok()) return result;
    if (!sources.insert(patch.sourceVersion).second)
      return PublisherResult::Refuse("more than one patch starts at version " + patch.sourceVersion);
  }
  return PublisherResult::Success();
}

// Follows the patches from the build's version to the final version.
PublisherResult CheckChain(const BuildHashMapping& build, const std::map<std::string, std::string>& targetOf,
                           const std::string& finalVersion) {
  std::set<std::string> visited;
  for (std::string version = build.version; version != finalVersion;) {
    if (!visited.insert(version).second)
      return PublisherResult::Refuse("the patches from version " + build.version + " run in a loop through " +
                                     version + " and never reach " + finalVersion);
    const auto next = targetOf.find(version);
    if (next == targetOf.end())
      return PublisherResult::Refuse("no patch leads on from version " + version +
                                     " (on the way from build " + build.hash + ", version " + build.version +
                                     ") to " + finalVersion);
    version = next->second;
  }
  return PublisherResult::Success();
}

}  // namespace

PublisherResult ValidatePackageOptions(const PackageOptions& options) {
  PublisherResult result = CheckVersion(options.finalVersion, "the final version");
  if (result.Ok()) result = CheckBuilds(options.builds);
  if (result.Ok()) result = CheckPatches(options.patches);
  if (!result.Ok()) return result;
  std::map<std::string, std::string> targetOf;
  for (const PackagedPatch& patch : options.patches) targetOf[patch.sourceVersion] = patch.targetVersion;
  for (const BuildHashMapping& build : options.builds) {
    result = CheckChain(build, targetOf, options.finalVersion);
    if (!result.Ok()) return result;
  }
  return result;
}

}  // namespace KorvelTools
