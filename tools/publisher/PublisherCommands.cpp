#include "tools/publisher/PublisherCommands.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>

#include "KernelStandard/platform/Platform.h"
#include "patch/signing/ListSignature.h"
#include "patch/signing/Sha256.h"
#include "tools/publisher/ArchiveBuilder.h"
#include "tools/publisher/CommandOptions.h"
#include "tools/publisher/Packager.h"
#include "tools/publisher/PatcherProgram.h"
#include "tools/sign/KeyFiles.h"

namespace KorvelTools {
namespace {

constexpr char kMakePatchUsage[] =
    "usage: korvel-make-patch --old OLD_TREE --new NEW_TREE --out ARCHIVE [--converter-ext .va]\n"
    "                         [--allow-empty] [--print-sha256]\n";
constexpr char kPackageUsage[] =
    "usage: korvel-package --patcher EXE --out STANDALONE --final VERSION\n"
    "                      --build HASH=VERSION [--build ...] --patch SRC:TGT:ARCHIVE [--patch ...]\n"
    "                      [--signature-room | --sign-with SECRET_KEY_FILE]\n"
    "       korvel-package --hash-of FILE\n";

// The one value of an option that must be given exactly once.
bool SingleValue(const CommandOptions& options, const std::string& name, std::string& value,
                 std::string& problem) {
  const auto found = options.find(name);
  if (found == options.end() || found->second.size() != 1) {
    problem = name + " must be given once";
    return false;
  }
  value = found->second.front();
  return true;
}

const std::vector<std::string>& Values(const CommandOptions& options, const std::string& name) {
  static const std::vector<std::string> kNone;
  const auto found = options.find(name);
  return found == options.end() ? kNone : found->second;
}

int Report(const char* program, const PublisherResult& result) {
  for (const std::string& warning : result.warnings)
    std::fprintf(stderr, "%s: warning: %s\n", program, warning.c_str());
  if (!result.Ok()) std::fprintf(stderr, "%s: %s\n", program, result.message.c_str());
  return ExitCodeFor(result);
}

int UsageError(const char* program, const std::string& problem, const char* usage) {
  std::fprintf(stderr, "%s: %s\n%s", program, problem.c_str(), usage);
  return kPublisherExitRefused;
}

bool WantsHelp(const std::vector<std::string>& arguments) {
  return arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h");
}

bool ParseBuild(const std::string& text, BuildHashMapping& build) {
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos) return false;
  build = {text.substr(0, equals), text.substr(equals + 1)};
  return true;
}

// SOURCE:TARGET:ARCHIVE; the archive path is everything after the second
// ':', so it may hold ':' itself.
bool ParsePatch(const std::string& text, PackagedPatch& patch) {
  const std::size_t first = text.find(':');
  const std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
  if (second == std::string::npos || second + 1 == text.size()) return false;
  patch = {text.substr(0, first), text.substr(first + 1, second - first - 1),
           OS::FromUtf8(text.substr(second + 1))};
  return true;
}

bool FillPackageOptions(const CommandOptions& parsed, PackageOptions& options, std::string& problem) {
  std::string patcher, output;
  if (!SingleValue(parsed, "--patcher", patcher, problem) || !SingleValue(parsed, "--out", output, problem) ||
      !SingleValue(parsed, "--final", options.finalVersion, problem))
    return false;
  options.patcherPath = OS::FromUtf8(patcher);
  options.outputPath = OS::FromUtf8(output);
  for (const std::string& text : Values(parsed, "--build")) {
    options.builds.emplace_back();
    if (!ParseBuild(text, options.builds.back())) {
      problem = "--build wants HASH=VERSION, not " + text;
      return false;
    }
  }
  for (const std::string& text : Values(parsed, "--patch")) {
    options.patches.emplace_back();
    if (!ParsePatch(text, options.patches.back())) {
      problem = "--patch wants SOURCE:TARGET:ARCHIVE, not " + text;
      return false;
    }
  }
  return true;
}

int PrintHashOf(const std::string& path) {
  std::string hash;
  if (!BuildHashOfFile(OS::FromUtf8(path), hash)) {
    std::fprintf(stderr, "korvel-package: cannot read %s\n", path.c_str());
    return kPublisherExitRefused;
  }
  hash += "\n";
  return OS::Current().WriteStdout(hash.data(), hash.size()) ? kPublisherExitOk : kPublisherExitFailed;
}

// The archive's line for its record in a signed "patches.txt".
int PrintSha256Line(const std::string& archive) {
  NolkSign::Sha256Digest digest{};
  if (!NolkSign::Sha256OfFile(OS::FromUtf8(archive), digest)) {
    std::fprintf(stderr, "korvel-make-patch: cannot read %s\n", archive.c_str());
    return kPublisherExitFailed;
  }
  const std::string line = std::string(NolkSign::kArchiveChecksumKey) + ": " + NolkSign::ToHex(digest) + "\n";
  return OS::Current().WriteStdout(line.data(), line.size()) ? kPublisherExitOk : kPublisherExitFailed;
}

}  // namespace

int RunMakePatch(const std::vector<std::string>& arguments) {
  constexpr char kProgram[] = "korvel-make-patch";
  if (WantsHelp(arguments))
    return OS::Current().WriteStdout(kMakePatchUsage, sizeof kMakePatchUsage - 1) ? 0 : 1;
  std::string problem;
  const auto parsed = ParseCommandOptions(arguments, 0, {"--old", "--new", "--out", "--converter-ext"},
                                          problem, {"--allow-empty", "--print-sha256"});
  ArchiveBuildOptions options;
  std::string oldTree, newTree, archive, extension = ".va";
  if (!parsed || !SingleValue(*parsed, "--old", oldTree, problem) ||
      !SingleValue(*parsed, "--new", newTree, problem) || !SingleValue(*parsed, "--out", archive, problem))
    return UsageError(kProgram, problem, kMakePatchUsage);
  if (parsed->count("--converter-ext") != 0 && !SingleValue(*parsed, "--converter-ext", extension, problem))
    return UsageError(kProgram, problem, kMakePatchUsage);
  options = {OS::FromUtf8(oldTree), OS::FromUtf8(newTree), OS::FromUtf8(archive), OS::FromUtf8(extension),
             parsed->count("--allow-empty") != 0};
  const int code = Report(kProgram, BuildPatchArchive(options));
  return code == kPublisherExitOk && parsed->count("--print-sha256") != 0 ? PrintSha256Line(archive) : code;
}

int RunPackage(const std::vector<std::string>& arguments) {
  constexpr char kProgram[] = "korvel-package";
  if (WantsHelp(arguments)) return OS::Current().WriteStdout(kPackageUsage, sizeof kPackageUsage - 1) ? 0 : 1;
  if (arguments.size() == 2 && arguments[0] == "--hash-of") return PrintHashOf(arguments[1]);
  std::string problem;
  const auto parsed = ParseCommandOptions(
      arguments, 0, {"--patcher", "--out", "--final", "--build", "--patch", "--sign-with"}, problem,
      {"--signature-room"});
  PackageOptions options;
  if (!parsed || !FillPackageOptions(*parsed, options, problem))
    return UsageError(kProgram, problem, kPackageUsage);
  options.signatureRoom = parsed->count("--signature-room") != 0;
  NolkSign::KeyPair signer;
  if (parsed->count("--sign-with") != 0) {
    std::string keyFile;
    if (!SingleValue(*parsed, "--sign-with", keyFile, problem))
      return UsageError(kProgram, problem, kPackageUsage);
    if (!ReadSecretKeyFile(OS::FromUtf8(keyFile), signer, problem))
      return Report(kProgram, PublisherResult::Fail(problem));
    options.signer = &signer;
  }
  // The library packages any bytes (tests use stand-ins); what a publisher
  // ships must be a program that starts.
  const PublisherResult patcher = CheckPatcherProgram(options.patcherPath);
  return Report(kProgram, patcher.Ok() ? BuildPackage(options) : patcher);
}

}  // namespace KorvelTools
