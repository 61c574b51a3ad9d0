// PatchPackage: the reader of the patch package appended to the program's
// own file (PackageFormat.h has the layout). One process-wide instance is
// created empty on first use; Open finds the header, the lookups read the
// tables from the file on every call (nothing is cached), and ExtractPatch
// copies one patch archive out into a file of its own.
//
// Every record position is checked against the file's length before it is
// read: a table or a patch archive that reaches past the end of the file
// counts as unreadable (a missing record for the lookups, code 8 for
// ExtractPatch), so a damaged package never makes the reader seek beyond
// its file or copy a partial archive.
//
// A patcher built with publisher keys trusts a package only with a valid
// publisher signature (patch/signing/PackageSignature.h has where it is
// carried and what it covers): Open checks it before anything else reads
// the package and refuses an unsigned or wrongly signed one with
// NOLKRESULT_REFUSED, SignatureProblem() then saying why.
//
// The operations are serialised by one mutex, because they share the file's
// position.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "KernelStandard/ResultCodes.h"
#include "patch/PackageFormat.h"
#include "patch/signing/PublisherKeys.h"
#include "stream/NolkDataBufferFile.h"

namespace NolkPatch {

// Codes of Open and ExtractPatch besides the shared result codes:
//   Open:        NOLKRESULT_OK, NOLKRESULT_FILE_ERROR (cannot open, or the
//                length differs from the header's file size),
//                NOLKRESULT_NOT_SUPPORTED (no header found),
//                NOLKRESULT_REFUSED (keys are configured and the package
//                carries no valid signature of theirs);
//   ExtractPatch: NOLKRESULT_OK, NOLKRESULT_NOT_OPEN, the two codes below,
//                NOLKRESULT_END_OF_DATA (the record or the archive lies
//                outside the file), or the failing seek, read or write.
enum : NolkResult {
  PACKAGERESULT_CANNOT_CREATE_OUTPUT = 1,
  PACKAGERESULT_NO_RECORD = 4,
};

class PatchPackage {
 public:
  static PatchPackage& Instance();

  PatchPackage() = default;
  PatchPackage(const PatchPackage&) = delete;
  PatchPackage& operator=(const PatchPackage&) = delete;

  // Closes whatever was open, then opens the file and scans for the header
  // at every multiple of 4,096 from offset 0. Uses the built-in publisher
  // keys.
  NolkResult Open(const std::wstring& path);
  // As above with the keys given (an empty set checks no signature).
  NolkResult Open(const std::wstring& path, const NolkSign::PublisherKeySet& keys);
  // Why the last Open refused the package; empty otherwise.
  std::string SignatureProblem() const;
  void Close();
  bool IsOpen() const;
  // File offset of the header found by Open; -1 while nothing is open.
  std::uint64_t GetHeaderPosition() const;

  // The final version the package brings an installation to; empty when not
  // open.
  std::string GetBuild() const;
  // The version of the first build-hash record whose hash equals `hash`
  // exactly; empty when not open, nothing matches or a record is unreadable.
  std::string FindVersionForBuildHash(const std::string& hash);
  // The target version of the first patch record with this source version;
  // empty in the same cases.
  std::string FindTargetVersion(const std::string& sourceVersion);
  // Copies the patch archive of the first patch record with this source
  // version into a new file at `outputPath`.
  NolkResult ExtractPatch(const std::string& sourceVersion, const std::wstring& outputPath);

 private:
  static constexpr std::uint64_t kNoHeader = ~std::uint64_t{0};

  void CloseLocked();
  // Reads the records of a table in order until `isMatch` accepts one:
  // NOLKRESULT_OK then, PACKAGERESULT_NO_RECORD when none does, or the code
  // of the failed read.
  NolkResult ScanTable(std::uint64_t tableOffset, std::uint32_t count, std::uint32_t width,
                       const std::function<bool(const std::uint8_t* record)>& isMatch);
  NolkResult FindBuildHashEntry(const std::string& hash, BuildHashEntry& found);
  NolkResult FindPatchEntry(const std::string& sourceVersion, PatchEntry& found);
  // Whether `length` bytes from `offset` lie inside the package file.
  bool RangeInFile(std::uint64_t offset, std::uint64_t length) const;
  NolkResult ReadBytesAt(std::uint64_t offset, std::uint8_t* bytes, std::uint32_t length);
  NolkResult CopyArchive(const PatchEntry& entry, const std::wstring& outputPath);

  mutable std::mutex m_mutex;
  std::unique_ptr<NolkDataBufferFile> m_file;
  std::uint64_t m_headerPosition = kNoHeader;
  std::optional<PackageHeader> m_header;
  std::string m_signatureProblem;
};

}  // namespace NolkPatch
