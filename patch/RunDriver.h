// The standalone and download runs of the patch worker: disk check, the
// chain of patches from the installed version to the final one, each patch
// brought to a temporary archive, unpacked, applied all or nothing, and the
// asset database rebuilt at the end.
#pragma once

#include <cstdint>
#include <string>

namespace NolkPatch {

// The folder the temporary archive and unpack folders go to: "TEMP" when
// set, else the system temporary folder, or the user's private folder
// inside it when that is shared (TemporaryFolders.h); empty when no safe
// folder can be had.
std::wstring TemporaryRoot();
// Creates a fresh folder under the temporary root with one mkdir that fails
// when the name exists. False when it cannot be made.
bool MakeTemporaryFolder(std::wstring& folder);

// Free bytes available to this user on the volume of `folder`; false for an
// empty folder text or a failed query.
bool GetFreeBytes(const std::wstring& folder, std::uint64_t& bytes);
// Posts 241; false when the temporary or installation volume has fewer than
// `requiredMegabytes` MiB free. A free space that cannot be read on either
// volume posts 242 and passes.
bool CheckDiskSpace(unsigned requiredMegabytes);

// Settles a committed patch's leftovers, walks the package's chain from
// CurrentVersion to FinalVersion, then rebuilds the asset database; a
// failed rebuild fails the run and stays owed (PatchGuard.h).
bool RunStandalone();
// Extracts the patch for CurrentVersion from the package and applies it.
bool RunOnePatchFromPackage();

// Result of UnpackAndApply.
enum UnpackResult : int { kUnpackApplied = 0, kUnpackNoTempFolder = 2, kUnpackFailed = 10 };
// Unpacks the archive into a fresh temporary folder and applies it.
int UnpackAndApply(const std::wstring& archivePath);
// Minutes of the unpack progress animation for an archive of this size:
// twice its size in MiB, truncated, capped to the signed 32-bit range.
int UnpackAnimationMinutes(std::uint64_t archiveBytes);

}  // namespace NolkPatch
