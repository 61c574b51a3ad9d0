#include "tools/sign/SignCommands.h"

#include <cstdio>
#include <map>
#include <optional>

#include "KernelStandard/platform/Platform.h"
#include "patch/PatchList.h"
#include "patch/PatchPackage.h"
#include "patch/signing/Hex.h"
#include "patch/signing/ListSignature.h"
#include "patch/signing/PackageSignature.h"
#include "patch/signing/Sha256.h"
#include "stream/NolkDataBufferFile.h"
#include "tools/publisher/CommandOptions.h"
#include "tools/publisher/PublisherResult.h"
#include "tools/publisher/StagedOutput.h"
#include "tools/sign/KeyFiles.h"

namespace KorvelTools {
namespace {

constexpr char kProgram[] = "korvel-sign";
constexpr char kUsage[] =
    "usage: korvel-sign keygen --secret-key FILE --public-key FILE\n"
    "       korvel-sign sign-list --secret-key FILE --list patches.txt [--out patches.txt.sig]\n"
    "       korvel-sign sign-package --secret-key FILE --package STANDALONE\n"
    "       korvel-sign verify --public-key FILE [--public-key FILE]\n"
    "                          (--list patches.txt [--signature patches.txt.sig] | --package STANDALONE)\n"
    "       korvel-sign sha256 ARCHIVE\n";

// A patch list is text of a few kilobytes; this bounds what is read.
constexpr std::size_t kLargestList = 64 << 20;

using Options = CommandOptions;

int Refused(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
  return kPublisherExitRefused;
}

int Failed(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
  return kPublisherExitFailed;
}

int UsageError(const std::string& problem) {
  std::fprintf(stderr, "%s: %s\n%s", kProgram, problem.c_str(), kUsage);
  return kPublisherExitRefused;
}

bool Print(const std::string& text) {
  return OS::Current().WriteStdout(text.data(), text.size());
}

// The value of an option given at most once; `required` makes it needed.
bool OneValue(const Options& options, const std::string& name, bool required, std::string& value,
              std::string& problem) {
  const auto found = options.find(name);
  if (found == options.end()) {
    if (required) problem = name + " must be given";
    return !required;
  }
  if (found->second.size() != 1) {
    problem = name + " must be given once";
    return false;
  }
  value = found->second.front();
  return true;
}

std::wstring Wide(const std::string& path) {
  return OS::FromUtf8(path);
}

int Keygen(const Options& options) {
  std::string secret, pub, problem;
  if (!OneValue(options, "--secret-key", true, secret, problem) ||
      !OneValue(options, "--public-key", true, pub, problem))
    return UsageError(problem);
  std::string publicHex;
  if (!WriteNewKeyFiles(Wide(secret), Wide(pub), publicHex, problem)) return Failed(problem);
  std::fprintf(stderr, "%s: wrote %s (keep it secret) and %s\n", kProgram, secret.c_str(), pub.c_str());
  return Print(publicHex + "\n") ? kPublisherExitOk : kPublisherExitFailed;
}

// What the patcher would refuse in the list once it is signed.
std::optional<std::string> ListProblem(const std::string& list) {
  const NolkSign::Verdict expiry = NolkSign::CheckListExpiry(
      NolkPatch::PatchListValues(list, NolkSign::kListExpiryKey), NolkSign::CurrentUtcTime());
  if (!expiry.trusted) return "the list cannot be signed: " + expiry.reason;
  NolkPatch::PatchMap all, checked;
  NolkPatch::ParsePatchList(list, L"http://server/", all, false);
  NolkPatch::ParsePatchList(list, L"http://server/", checked, true);
  if (all.empty()) return std::string("the list has no usable patch record");
  for (const auto& [source, entry] : all) {
    if (checked.count(source) == 0)
      return "the record for source version " + source + " names no valid " + NolkSign::kArchiveChecksumKey +
             " (korvel-make-patch --print-sha256 or korvel-sign sha256 gives the line)";
  }
  return std::nullopt;
}

int SignList(const Options& options) {
  std::string secret, listPath, outPath, problem;
  if (!OneValue(options, "--secret-key", true, secret, problem) ||
      !OneValue(options, "--list", true, listPath, problem) ||
      !OneValue(options, "--out", false, outPath, problem))
    return UsageError(problem);
  if (outPath.empty()) outPath = listPath + ".sig";
  std::string list;
  if (!ReadSmallFile(Wide(listPath), kLargestList, list)) return Failed("cannot read " + listPath);
  if (const auto listProblem = ListProblem(list)) return Refused(*listProblem);
  NolkSign::KeyPair pair;
  if (!ReadSecretKeyFile(Wide(secret), pair, problem)) return Failed(problem);
  const std::string text = NolkSign::ListSignatureText(NolkSign::SignDetached(
      std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(list.data()), list.size()), pair));
  StagedOutput output(Wide(outPath));
  {
    NolkDataBufferFile file(output.TemporaryPath(), NolkDataBufferFile::WriteNew);
    if (!file.IsOpen() ||
        file.WriteData(text.data(), static_cast<std::uint32_t>(text.size())) != NOLKRESULT_OK)
      return Failed("cannot write " + outPath);
    file.Flush();
  }
  if (!FileHasSize(output.TemporaryPath(), text.size()) || !output.Commit())
    return Failed("cannot write " + outPath);
  return kPublisherExitOk;
}

// The header position of the standalone patch (no keys: the signature
// itself is what is being made or checked).
bool FindPackageHeader(const std::string& path, std::uint64_t& headerPosition, std::string& problem) {
  NolkPatch::PatchPackage package;
  const NolkResult opened = package.Open(Wide(path), NolkSign::PublisherKeySet());
  if (opened != NOLKRESULT_OK) {
    problem =
        path + (opened == NOLKRESULT_NOT_SUPPORTED ? " carries no patch package"
                                                   : " cannot be read, or its length is not its package's");
    return false;
  }
  headerPosition = package.GetHeaderPosition();
  return true;
}

int SignPackageCommand(const Options& options) {
  std::string secret, packagePath, problem;
  if (!OneValue(options, "--secret-key", true, secret, problem) ||
      !OneValue(options, "--package", true, packagePath, problem))
    return UsageError(problem);
  std::uint64_t headerPosition = 0;
  if (!FindPackageHeader(packagePath, headerPosition, problem)) return Refused(problem);
  NolkSign::KeyPair pair;
  if (!ReadSecretKeyFile(Wide(secret), pair, problem)) return Failed(problem);
  NolkDataBufferFile file(Wide(packagePath), NolkDataBufferFile::ReadWrite);
  if (!file.IsOpen()) return Failed("cannot open " + packagePath + " for writing");
  if (!NolkSign::SignPackage(file, headerPosition, pair, problem)) return Refused(problem);
  return kPublisherExitOk;
}

int Verify(const Options& options) {
  std::string listPath, signaturePath, packagePath, problem;
  if (!OneValue(options, "--list", false, listPath, problem) ||
      !OneValue(options, "--signature", false, signaturePath, problem) ||
      !OneValue(options, "--package", false, packagePath, problem))
    return UsageError(problem);
  if (listPath.empty() == packagePath.empty()) return UsageError("give either --list or --package");
  const auto keyFiles = options.find("--public-key");
  if (keyFiles == options.end() || keyFiles->second.size() > 2)
    return UsageError("--public-key must be given once or twice");
  NolkSign::PublisherKeySet keys;
  for (const std::string& path : keyFiles->second) {
    NolkSign::PublicKey key{};
    if (!ReadPublicKeyFile(Wide(path), key, problem)) return Failed(problem);
    keys.keys.push_back(key);
  }
  NolkSign::Verdict verdict;
  if (!listPath.empty()) {
    if (signaturePath.empty()) signaturePath = listPath + ".sig";
    std::string list, signature;
    if (!ReadSmallFile(Wide(listPath), kLargestList, list)) return Failed("cannot read " + listPath);
    if (!ReadSmallFile(Wide(signaturePath), 4096, signature)) return Refused("cannot read " + signaturePath);
    verdict = NolkSign::VerifyListSignature(list, signature, keys);
    if (verdict.trusted)
      verdict = NolkSign::CheckListExpiry(NolkPatch::PatchListValues(list, NolkSign::kListExpiryKey),
                                          NolkSign::CurrentUtcTime());
  } else {
    std::uint64_t headerPosition = 0;
    if (!FindPackageHeader(packagePath, headerPosition, problem)) return Refused(problem);
    NolkDataBufferFile file(Wide(packagePath), NolkDataBufferFile::ReadOnly);
    if (!file.IsOpen()) return Failed("cannot read " + packagePath);
    verdict = NolkSign::VerifyPackageSignature(file, headerPosition, keys);
  }
  const std::string& subject = listPath.empty() ? packagePath : listPath;
  if (!verdict.trusted) return Refused(subject + " is refused: " + verdict.reason);
  return Print(subject + ": good signature\n") ? kPublisherExitOk : kPublisherExitFailed;
}

int Sha256Command(const std::vector<std::string>& arguments) {
  if (arguments.size() != 2) return UsageError("sha256 wants one archive");
  NolkSign::Sha256Digest digest{};
  if (!NolkSign::Sha256OfFile(Wide(arguments[1]), digest)) return Failed("cannot read " + arguments[1]);
  return Print(std::string(NolkSign::kArchiveChecksumKey) + ": " + NolkSign::ToHex(digest) + "\n")
             ? kPublisherExitOk
             : kPublisherExitFailed;
}

}  // namespace

int RunSign(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return UsageError("no command given");
  const std::string& command = arguments[0];
  if (command == "--help" || command == "-h") return Print(kUsage) ? kPublisherExitOk : kPublisherExitFailed;
  if (command == "sha256") return Sha256Command(arguments);
  std::string problem;
  std::optional<Options> options;
  if (command == "keygen") {
    options = ParseCommandOptions(arguments, 1, {"--secret-key", "--public-key"}, problem);
    return options ? Keygen(*options) : UsageError(problem);
  }
  if (command == "sign-list") {
    options = ParseCommandOptions(arguments, 1, {"--secret-key", "--list", "--out"}, problem);
    return options ? SignList(*options) : UsageError(problem);
  }
  if (command == "sign-package") {
    options = ParseCommandOptions(arguments, 1, {"--secret-key", "--package"}, problem);
    return options ? SignPackageCommand(*options) : UsageError(problem);
  }
  if (command == "verify") {
    options =
        ParseCommandOptions(arguments, 1, {"--public-key", "--list", "--signature", "--package"}, problem);
    return options ? Verify(*options) : UsageError(problem);
  }
  return UsageError("unknown command " + command);
}

}  // namespace KorvelTools
