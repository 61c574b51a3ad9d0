// Helpers of the discovery tests: a registry store file written in the
// export format, and a small standalone patch (any file as the "patcher"
// with a package appended) built with the publisher's packager.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "app_test_support.h"
#include "tools/publisher/Packager.h"

namespace app_test {

// One product subkey under SOFTWARE\Korvel\Products\OmbrixSimulator.
struct ProductEntry {
  std::string subkey;
  std::vector<std::string> values;  // complete value lines, e.g. "\"ProductClass\"=\"Ombrix\""
};

inline std::string RegistryText(const std::string& value) {
  std::string escaped;
  for (char c : value) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  return "\"" + escaped + "\"";
}

inline std::string ProductValues(const std::string& productClass, const std::string& installPath) {
  return "\"ProductClass\"=" + RegistryText(productClass) +
         "\n\"ProductInstallPath\"=" + RegistryText(installPath);
}

// The store's text with the products key and one section per entry.
inline std::string ProductRegistry(const std::vector<ProductEntry>& entries) {
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvel\\Products\\OmbrixSimulator]\r\n\r\n";
  for (const ProductEntry& entry : entries) {
    text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvel\\Products\\OmbrixSimulator\\" + entry.subkey + "]\r\n";
    for (const std::string& value : entry.values) text += value + "\r\n";
    text += "\r\n";
  }
  return text;
}

// A standalone patch at `folder`/patcher.exe: the final version, the build
// hashes (hash, version) and the patch chain (source, target); every archive
// is a minimal one (format version only).
inline std::wstring BuildStandalonePatch(const TempFolder& folder, const std::string& finalVersion,
                                         const std::vector<std::pair<std::string, std::string>>& builds,
                                         const std::vector<std::pair<std::string, std::string>>& chain) {
  folder.WriteFile("program.bin", std::string(6000, 'P'));
  folder.WriteFile("archive.arc", std::string("\x01\x00\x00\x00", 4));
  KorvelTools::PackageOptions options;
  options.patcherPath = folder.Wide("program.bin");
  options.outputPath = folder.Wide("patcher.exe");
  options.finalVersion = finalVersion;
  for (const auto& [hash, version] : builds) options.builds.push_back({hash, version});
  for (const auto& [source, target] : chain)
    options.patches.push_back({source, target, folder.Wide("archive.arc")});
  const KorvelTools::PublisherResult built = KorvelTools::BuildPackage(options);
  EXPECT_TRUE(built.Ok()) << built.message;
  return options.outputPath;
}

}  // namespace app_test
