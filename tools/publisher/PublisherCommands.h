// The command lines of the publisher programs; main() only hands its
// arguments over, so tests can run the programs' logic in-process.
//
//   korvel-make-patch --old OLD_TREE --new NEW_TREE --out ARCHIVE [--converter-ext .va] [--allow-empty]
//                     [--print-sha256]
//   korvel-package --patcher EXE --out STANDALONE --final VERSION
//                  --build HASH=VERSION [--build ...] --patch SRC:TGT:ARCHIVE [--patch ...]
//                  [--signature-room | --sign-with SECRET_KEY_FILE]
//   korvel-package --hash-of FILE
//
// --print-sha256 prints the line "patch-data-sha256: <hex>" of the new
// archive for its record in a signed "patches.txt". --signature-room
// reserves the room for the publisher's signature before the package
// header (signed later by korvel-sign sign-package); --sign-with signs the
// standalone patch with the key in that file while it is made
// (patch/signing/PackageSignature.h).
//
// korvel-make-patch refuses trees without a difference unless --allow-empty
// is given; korvel-package refuses a patcher that is not a program of this
// platform (PatcherProgram.h).
//
// Exit codes: 0 done, 1 a file could not be read or written, 2 refused (a
// wrong command line, or input the output format cannot carry). Messages
// go to standard error; --hash-of prints the hash on standard output.
#pragma once

#include <string>
#include <vector>

namespace KorvelTools {

int RunMakePatch(const std::vector<std::string>& arguments);
int RunPackage(const std::vector<std::string>& arguments);

}  // namespace KorvelTools
