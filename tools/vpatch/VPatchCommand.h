// The command line of "vpatchl-w32.exe":
//   vpatchl-w32.exe "old" "diff" "new"            rebuilds new from old + diff
//   vpatchl-w32.exe --create "old" "new" "diff"   makes the diff old -> new
// and its exit codes, which the patch engine turns into its messages.
#pragma once

#include <string>
#include <vector>

namespace KorvelTools {

enum VPatchExitCode : int {
  VPATCH_OK = 0,
  VPATCH_MISSING_ARGUMENTS = 1,
  VPATCH_OLD_UNREADABLE = 2,
  VPATCH_DIFF_UNREADABLE = 3,  // --create: the new file cannot be read
  VPATCH_OUTPUT_NOT_WRITABLE = 4,
  VPATCH_WRONG_OLD_FILE = 5,
  VPATCH_CORRUPT_DIFF = 6,
  VPATCH_CREATE_FAILED = 7,  // --create: zstd could not make the diff
};

// Runs the tool with the arguments after the program name; messages go to
// standard output. Returns the exit code.
int RunVPatch(const std::vector<std::string>& arguments);

}  // namespace KorvelTools
