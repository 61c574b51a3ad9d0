// The packager: makes a standalone patch from the patcher executable, the
// patch archives and the build-hash table, in the layout of
// PackageLayout.h, with the records of patch/PackageFormat.h.
//
// Every input is checked before the output is opened, and the output is
// written under a temporary name that becomes the final file only when it
// is complete, so a refusal or failure leaves no output. Refused inputs:
//  - a final, source, target or build version that is empty, longer than 31
//    characters (its 32-byte field keeps a terminator) or holds a control
//    character;
//  - a build hash that is not 32 lower-case hexadecimal digits, or that
//    appears twice;
//  - a source version that appears twice (the reader would only ever use
//    the first record);
//  - a build version from which the patches do not lead to the final
//    version (a version without a patch, or a loop);
//  - a missing or unreadable patcher or archive, an archive that does not
//    start with format version 1, and a patcher that already carries a
//    package (the reader would find the old header first);
//  - a result of 4 GiB or more.
//
// The output keeps the patcher's permission bits (the copy is made by the
// platform layer's file copy), so an executable patcher gives an executable
// standalone patch.
#pragma once

#include <string>
#include <vector>

#include "patch/signing/Ed25519.h"
#include "tools/publisher/PublisherResult.h"

namespace KorvelTools {

struct BuildHashMapping {
  std::string hash;     // MD5 of an installed build's bin/Launcher.exe
  std::string version;  // the version that build has
};

struct PackagedPatch {
  std::string sourceVersion;
  std::string targetVersion;
  std::wstring archivePath;
};

struct PackageOptions {
  std::wstring patcherPath;
  std::wstring outputPath;
  std::string finalVersion;
  std::vector<BuildHashMapping> builds;
  std::vector<PackagedPatch> patches;
  // Reserves the room for the publisher's signature before the package
  // header (patch/signing/PackageSignature.h), to be signed later with
  // korvel-sign sign-package.
  bool signatureRoom = false;
  // When set, the standalone patch is signed with this key before it is
  // put in place (implies the room).
  const NolkSign::KeyPair* signer = nullptr;
};

// The checks that need no file: texts, duplicates and the version chain.
PublisherResult ValidatePackageOptions(const PackageOptions& options);

PublisherResult BuildPackage(const PackageOptions& options);

// The build hash of a file (MD5, 32 lower-case hexadecimal digits); false
// when the file cannot be read.
bool BuildHashOfFile(const std::wstring& path, std::string& hash);

}  // namespace KorvelTools
