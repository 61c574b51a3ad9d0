// The download-mode run of the patch worker: the patch list from the patch
// servers, then per patch from CurrentVersion on: size query, download of
// the archive into the private temporary root (one fixed name per patch,
// so a download a killed run left behind is taken up again), unpack and
// apply exactly as the standalone run does, and the asset database rebuilt
// after the last patch.
#pragma once

#include "net/DownloadURLCallback.h"
#include "patch/PatchList.h"

namespace NolkPatch {

// `appliedCount` is the number of patches applied. The callback (may be
// null) is the window's Cancel, asked between attempts and chunks.
bool RunDownload(int& appliedCount, DownloadURLCallback* callback);
// As above with the list object given (tests look at its state).
bool RunDownload(int& appliedCount, DownloadURLCallback* callback, OnlinePatchList& list);

}  // namespace NolkPatch
